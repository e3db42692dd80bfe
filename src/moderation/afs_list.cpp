#include "moderation/afs_list.h"

#include <string_view>

namespace orv {

namespace {

constexpr const char* kSection = "LIST";

// Leading ASCII digits accumulated the way a 32-bit int does it: the product wraps around
// instead of overflowing, so a very long digit run can come out negative.
std::int32_t LeadingNumber(std::string_view text) {
  std::uint32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10u + static_cast<std::uint32_t>(c - '0');
  }
  return static_cast<std::int32_t>(value);
}

}  // namespace

AfsList::AfsList(const std::filesystem::path& workDir) : profile_(workDir / "data" / "afs.cfg") {}

std::int32_t AfsList::ReadAfsValue(const std::string& mac, std::int32_t defaultValue) {
  const std::string value = profile_.Get(kSection, mac);
  if (value.empty()) return defaultValue;
  // A value that does not start with a digit reads as 0, deliberately not as the default.
  const std::int32_t number = LeadingNumber(value);
  return number >= 0 ? number : defaultValue;
}

bool AfsList::WriteAfsValue(const std::string& mac, std::int32_t value) {
  const bool written = WriteProfileValue(kSection, mac, std::to_string(value), profile_.Path());
  profile_.Invalidate();
  return written;
}

}  // namespace orv
