// Formatting of language strings that take one argument. A language file is operator data,
// so its strings are never handed to printf: exactly one conversion of the expected kind is
// filled in, "%%" gives a percent sign, and anything else is copied literally.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orv {

// format with one integer conversion ("%d" or "%i").
std::string FormatWithInt(std::string_view format, std::int64_t value);
// format with one text conversion ("%s").
std::string FormatWithText(std::string_view format, std::string_view value);

}  // namespace orv
