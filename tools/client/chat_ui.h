// The chat as a person uses it: at an interactive terminal the chat screen (conversation,
// side pane, status bar, input line), else plain chat lines on stdout with typed lines read
// from stdin.
#pragma once

#include "client_options.h"
#include "protocol/wire_codec.h"

namespace orv::client {

// Runs the chat until /quit, the end of input or (piped) the end of the connection; the
// exit status.
int RunChat(Options& options, const WireCodec& codec);

}  // namespace orv::client
