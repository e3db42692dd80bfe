#include "console/clock.h"

#include <array>

namespace orv {

std::optional<std::tm> SystemClock::LocalTime() const {
  const std::time_t now = std::time(nullptr);
  if (now == static_cast<std::time_t>(-1)) return std::nullopt;
  std::tm local{};
  // The reentrant conversions differ only in name and argument order between platforms.
#if defined(_WIN32)
  if (localtime_s(&local, &now) != 0) return std::nullopt;
#else
  if (localtime_r(&now, &local) == nullptr) return std::nullopt;
#endif
  return local;
}

std::string FormatTime(const std::tm& time, const char* pattern) {
  std::array<char, 128> buffer{};
  // strftime returns 0 both for a result that does not fit and for an empty one; either way
  // the text is empty, never a truncated stamp.
  const std::size_t length = std::strftime(buffer.data(), buffer.size(), pattern, &time);
  return std::string(buffer.data(), length);
}

std::string FormatLocalTime(const Clock& clock, const char* pattern) {
  const std::optional<std::tm> local = clock.LocalTime();
  if (!local) return {};
  return FormatTime(*local, pattern);
}

}  // namespace orv
