// Conversions between the engine's code-page bytes (Windows-1251) or UTF-8 and the UTF-16
// text of the Windows controls.
#pragma once

#include <string>
#include <string_view>

namespace orv {

std::wstring WideFromCodePage(std::string_view bytes);
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);
// Menu and button texts take "&" for a mnemonic; names and language strings show it as is.
std::wstring EscapeMnemonics(std::wstring text);

}  // namespace orv
