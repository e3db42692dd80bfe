#include "moderation/afs_list.h"

#include <string_view>

#include "protocol/text_fields.h"

namespace orv {

namespace {

constexpr const char* kSection = "LIST";

}  // namespace

AfsList::AfsList(const std::filesystem::path& workDir) : profile_(workDir / "data" / "afs.cfg") {}

std::int32_t AfsList::ReadAfsValue(std::string_view mac, std::int32_t defaultValue) {
  const std::string value = profile_.Get(kSection, mac);
  if (value.empty()) return defaultValue;
  // A value that does not start with a digit reads as 0, deliberately not as the default.
  const std::int32_t number = ParseLeadingNumber(value);
  return number >= 0 ? number : defaultValue;
}

bool AfsList::WriteAfsValue(const std::string& mac, std::int32_t value) {
  const bool written = WriteProfileValue(kSection, mac, std::to_string(value), profile_.Path());
  profile_.Invalidate();
  return written;
}

}  // namespace orv
