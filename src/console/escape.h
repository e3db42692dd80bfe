// Text that came from a client, made safe to put into a console or log line: control
// characters are shown as escapes ("\r", "\n", "\t", "\x1B"), so no client can start a line
// of its own or steer a terminal. Other bytes (code-page letters) stay as they are.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orv {

std::string EscapeControlCharacters(std::string_view text);

// The most characters of client text a console or log line carries.
inline constexpr std::size_t kClientTextLimit = 64;

// Client text for a console or log line: escaped as above and cut to kClientTextLimit
// characters, with a mark that says how much was left out ("...[+31,936 bytes]"), so that
// no client can make one line hundreds of kilobytes long.
std::string ClientText(std::string_view text);

}  // namespace orv
