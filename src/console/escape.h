// Text that came from a client, made safe to put into a console or log line: control
// characters are shown as escapes ("\r", "\n", "\t", "\x1B"), so no client can start a line
// of its own or steer a terminal. Other bytes (code-page letters) stay as they are.
#pragma once

#include <string>
#include <string_view>

namespace orv {

std::string EscapeControlCharacters(std::string_view text);

}  // namespace orv
