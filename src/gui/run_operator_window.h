// The windowed front-end: runs the engine on its thread and the operator window on this
// one until Exit, SIGINT or SIGTERM; then stops the engine in order.
#pragma once

#include "protocol/wire_codec.h"

namespace orv {

struct AppOptions;

// Needs a display. Returns the program's exit code.
int RunOperatorWindow(const AppOptions& options, WireCodec codec);

}  // namespace orv
