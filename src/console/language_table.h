// The operator-facing texts, numbered 0 to 40, loaded from language/lang_<name>.cfg.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "console/log_file.h"
#include "console/string_id.h"

namespace orv {

class LanguageTable {
 public:
  static constexpr int kStringCount = orv::kStringCount;

  // Loads language/lang_<name>.cfg under workDir. Returns false, leaving the table empty,
  // when the file cannot be opened. A missing key logs ":::Missing string STRn in <path>"
  // and stands in as its own key name.
  bool LoadLanguage(const std::string& name, const std::filesystem::path& workDir,
                    const LogWriter& log);

  // Fills the table with the built-in English texts.
  void LoadBuiltIn();

  // Language string n, or " " when n is outside the loaded table.
  std::string GetString(int n) const;
  std::string GetString(StringId id) const { return GetString(static_cast<int>(id)); }

  int Size() const { return static_cast<int>(strings_.size()); }

 private:
  std::vector<std::string> strings_;
};

}  // namespace orv
