// orvchatctl's end of the control channel: sends one request line to a running server and
// reads its whole answer, within a time limit, or follows its stream of events.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "app/control_protocol.h"

namespace orv {

struct ControlReply {
  // kControlOk when an answer came (its own status is in answer), else kControlNoServer or
  // kControlNoAnswer with why in words.
  int status = kControlOk;
  std::string why;
  // kControlNoServer because there is no socket at the path, or nothing answers on it (not
  // because it may not be used, or is not to be trusted).
  bool nobodyThere = false;
  ControlAnswer answer;
};

// What orvchatctl prints of a text it received or was given: control characters escaped as
// the console shows them ("\x1B", "\r"), C1 controls written in UTF-8 as "\u009B", and bytes
// that are no UTF-8 as "\x9B", so that nothing can steer the terminal (an 8-bit CSI does in
// many). Other UTF-8 text stays as it is.
std::string ShownText(std::string_view text);

// Talks only to a socket of root, of the user running this program or of the user named
// serviceUser (the service's; none when empty); another's is refused with kControlNoServer
// and why, naming the path and the owner, before anything is sent.
ControlReply AskServer(const std::filesystem::path& socket, const std::string& requestLine,
                       std::chrono::milliseconds limit, const std::string& serviceUser = {});

// Sends a request whose answer is a stream ("/follow") and hands show each line as it
// arrives, for as long as the stream lasts: until its end line (whose status is the
// answer's; the lines went to show, not into the answer), or until the server closes the
// connection without one (kControlNoAnswer). Talks to the same sockets as AskServer.
ControlReply FollowServer(const std::filesystem::path& socket, const std::string& requestLine,
                          const std::function<void(const ControlAnswer::Line&)>& show,
                          const std::string& serviceUser = {});

}  // namespace orv
