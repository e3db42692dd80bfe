#include "protocol/packet_start.h"

#include <string_view>

namespace orv {

StartBytes PacketStartBytes(const WireCodec& codec) {
  StartBytes start{};
  constexpr std::string_view kFirstCharacters = "0123456789.(";
  for (const char c : codec.EncodeText(kFirstCharacters))
    start[static_cast<unsigned char>(c)] = true;
  return start;
}

}  // namespace orv
