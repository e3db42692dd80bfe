// orvchatctl's end of the control channel: sends one request line to a running server and
// reads its whole answer, within a time limit.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>

#include "app/control_protocol.h"

namespace orv {

struct ControlReply {
  // kControlOk when an answer came (its own status is in answer), else kControlNoServer or
  // kControlNoAnswer with why in words.
  int status = kControlOk;
  std::string why;
  // kControlNoServer because there is no socket at the path, or nothing answers on it (not
  // because it may not be used).
  bool nobodyThere = false;
  ControlAnswer answer;
};

ControlReply AskServer(const std::filesystem::path& socket, const std::string& requestLine,
                       std::chrono::milliseconds limit);

}  // namespace orv
