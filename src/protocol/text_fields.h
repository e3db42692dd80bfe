// Reading the fields of a decoded packet:
//   ip "(" mac ")||" name "||" avatar "||" subject "||" flag "||" type "||" body "//end"
// Every step takes the first occurrence of its delimiter; a missing delimiter empties
// everything after it.
#pragma once

#include <cstdint>
#include <string_view>

#include "protocol/wire_constants.h"

namespace orv {

enum class Side { kBefore, kAfter };

// The text before or after the first occurrence of delimiter; empty when it does not occur.
std::string_view ExtractField(std::string_view text, std::string_view delimiter, Side side);

// Leading ASCII digits as a decimal number with 32-bit wrap-around; 0 for none.
std::int32_t ParseLeadingNumber(std::string_view text);

struct PacketHeader {
  std::string_view ip;
  std::string_view mac;
  std::string_view name;
  std::string_view avatar;
  std::int32_t type = 0;
  std::string_view typeAndBody;  // type "||" body (the text the type rules read)
  std::string_view body;         // after the type field's "||"
  // Every field is there: "(" and ")||" around a MAC that is not empty, and the separators
  // after the name, avatar, subject, flag and type.
  bool complete = false;
};

// Reads the header of a decoded, terminated packet; only the part before the first
// "//end" is read. The views point into msg.
PacketHeader ReadPacketHeader(std::string_view msg);

}  // namespace orv
