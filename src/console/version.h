// The program's name and version text.
#pragma once

#include <cstdint>
#include <string>

namespace orv {

inline constexpr const char* kProductName = "ORV Chat Server";

// Version text from the two file-version words: "a.b.c.d" when ls is not 0, "a.b" when
// only ms is not 0, else the empty text.
std::string GetVersionString(std::uint32_t ms, std::uint32_t ls);

// This program's version (from the build), formatted by GetVersionString.
std::string ProgramVersion();

}  // namespace orv
