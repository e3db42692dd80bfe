// The packet view of orvchat-client: every packet as one line for scripts (--send, --wait),
// or, with --raw at a terminal, each packet described with its sender and type. Typed lines
// and --send lines go out as chat text or slash commands.
#pragma once

#include "client_options.h"
#include "protocol/wire_codec.h"

namespace orv::client {

// Connects, announces, shows what arrives until the run ends; the exit status.
int RunPacketView(Options& options, const WireCodec& codec);

}  // namespace orv::client
