#include "console/escape.h"

namespace orv {

namespace {

// Appends ch, escaped when it is a control character.
void AppendEscaped(char ch, std::string& out) {
  const auto c = static_cast<unsigned char>(ch);
  if (c >= 0x20 && c != 0x7F) {
    out += ch;
    return;
  }
  switch (c) {
    case '\r':
      out += "\\r";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\t':
      out += "\\t";
      break;
    default: {
      constexpr char kHex[] = "0123456789ABCDEF";
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
      break;
    }
  }
}

}  // namespace

std::string EscapeControlCharacters(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text)
    AppendEscaped(ch, out);
  return out;
}

std::string ClientText(std::string_view text) {
  std::string out;
  std::size_t used = 0;
  // An escape is never cut in two: the limit is checked between characters.
  while (used < text.size() && out.size() < kClientTextLimit)
    AppendEscaped(text[used++], out);
  if (used == text.size()) return out;
  std::string left = std::to_string(text.size() - used);
  for (std::size_t at = left.size(); at > 3; at -= 3)
    left.insert(at - 3, ",");
  return out + "...[+" + left + " bytes]";
}

}  // namespace orv
