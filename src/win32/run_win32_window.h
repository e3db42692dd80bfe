// The Windows window front-end: runs the engine with the native operator window until
// Exit, a stop signal or the end of the session; the program's exit code.
#pragma once

#include <string>

#include "app/options.h"
#include "protocol/wire_codec.h"

namespace orv {

int RunWin32Window(const AppOptions& options, WireCodec codec);

// A start-up error in a message box: started from Explorer, nobody reads the console.
void ShowStartupError(const std::string& utf8Text);

}  // namespace orv
