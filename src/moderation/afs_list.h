// data/afs.cfg: the operator's per-user AFS values, section "LIST", keyed by MAC.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "files/profile_file.h"

namespace orv {

class AfsList {
 public:
  explicit AfsList(const std::filesystem::path& workDir);

  // The stored value's leading digits, or defaultValue when there is no entry (or the
  // digits wrapped negative).
  std::int32_t ReadAfsValue(std::string_view mac, std::int32_t defaultValue);
  // Stores mac=value ("%i"). false when it could not be written.
  bool WriteAfsValue(const std::string& mac, std::int32_t value);

  const std::filesystem::path& Path() const { return profile_.Path(); }

 private:
  CachedProfile profile_;
};

}  // namespace orv
