#include "protocol/text_fields.h"

namespace orv {

std::string_view ExtractField(std::string_view text, std::string_view delimiter, Side side) {
  const std::size_t at = text.find(delimiter);
  if (at == std::string_view::npos) return {};
  return side == Side::kBefore ? text.substr(0, at) : text.substr(at + delimiter.size());
}

std::int32_t ParseLeadingNumber(std::string_view text) {
  // Unsigned arithmetic wraps by definition; the conversion back is modular in C++20.
  std::uint32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10u + static_cast<std::uint32_t>(c - '0');
  }
  return static_cast<std::int32_t>(value);
}

PacketHeader ReadPacketHeader(std::string_view msg) {
  PacketHeader header;
  msg = ExtractField(msg, kTerminator, Side::kBefore);
  header.ip = ExtractField(msg, "(", Side::kBefore);
  const std::string_view address = ExtractField(msg, ")||", Side::kBefore);
  header.mac = ExtractField(address, "(", Side::kAfter);
  // The first separator must be the one of ")||", and four more must follow it for the
  // name, avatar, subject and flag, and one after the type.
  std::size_t separators = 0;
  for (std::size_t at = msg.find(kFieldSeparator); at != std::string_view::npos && separators < 6;
       at = msg.find(kFieldSeparator, at + kFieldSeparator.size())) {
    ++separators;
  }
  header.complete = !header.mac.empty() && address.find('(') != std::string_view::npos &&
                    msg.find(kFieldSeparator) == address.size() + 1 && separators == 6;
  msg = ExtractField(msg, kFieldSeparator, Side::kAfter);
  header.name = ExtractField(msg, kFieldSeparator, Side::kBefore);
  msg = ExtractField(msg, kFieldSeparator, Side::kAfter);
  header.avatar = ExtractField(msg, kFieldSeparator, Side::kBefore);
  msg = ExtractField(msg, kFieldSeparator, Side::kAfter);
  msg = ExtractField(msg, kFieldSeparator, Side::kAfter);  // subject, not read
  msg = ExtractField(msg, kFieldSeparator, Side::kAfter);  // flag, not read
  header.type = ParseLeadingNumber(ExtractField(msg, kFieldSeparator, Side::kBefore));
  header.typeAndBody = msg;
  header.body = ExtractField(msg, kFieldSeparator, Side::kAfter);
  return header;
}

}  // namespace orv
