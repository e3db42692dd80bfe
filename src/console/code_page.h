// Conversion between the single-byte code page of wire and file texts (Windows-1251) and
// UTF-8, for the places where a person reads or types.
#pragma once

#include <string>
#include <string_view>

namespace orv {

std::string Cp1251ToUtf8(std::string_view text);
// Characters the code page cannot hold become "?"; invalid UTF-8 bytes become "?" too.
std::string Utf8ToCp1251(std::string_view text);
// Appends one code point as UTF-8.
void AppendUtf8(std::string& out, char32_t cp);

}  // namespace orv
