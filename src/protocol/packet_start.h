// Which bytes, as they travel, may begin a packet: a header opens with the IP address the
// client reports (digits and dots) or, without one, with the "(" before the MAC. Anything
// else right after a terminator is taken for characters a client writes after its packets.
#pragma once

#include "protocol/packet_assembler.h"
#include "protocol/wire_codec.h"

namespace orv {

StartBytes PacketStartBytes(const WireCodec& codec);

}  // namespace orv
