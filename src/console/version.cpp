#include "console/version.h"

#include <string>

#if !defined(ORV_VERSION_MAJOR) || !defined(ORV_VERSION_MINOR) || !defined(ORV_VERSION_PATCH) || \
    !defined(ORV_VERSION_TWEAK)
#error "The build passes the program version as ORV_VERSION_MAJOR/MINOR/PATCH/TWEAK"
#endif

namespace orv {

std::string GetVersionString(std::uint32_t ms, std::uint32_t ls) {
  const auto high = [](std::uint32_t word) { return std::to_string(word >> 16); };
  const auto low = [](std::uint32_t word) { return std::to_string(word & 0xFFFFu); };
  if (ls != 0) return high(ms) + "." + low(ms) + "." + high(ls) + "." + low(ls);
  if (ms != 0) return high(ms) + "." + low(ms);
  return {};
}

std::string ProgramVersion() {
  constexpr std::uint32_t ms = (std::uint32_t{ORV_VERSION_MAJOR} << 16) | ORV_VERSION_MINOR;
  constexpr std::uint32_t ls = (std::uint32_t{ORV_VERSION_PATCH} << 16) | ORV_VERSION_TWEAK;
  return GetVersionString(ms, ls);
}

}  // namespace orv
