// What the command line of orvchat-client asks for, shared by its ways of running: the
// codec filter, the packet view (scripts and --raw) and the chat.
#pragma once

#include <string>
#include <vector>

#include "client_commands.h"

namespace orv::client {

// Exit codes scripts can tell apart.
enum ExitCode : int {
  kOk = 0,
  kBadSettings = 1,  // the settings file (or the output) could not be used
  kUsage = 2,
  kClosedByServer = 3,
  kMalformed = 4,
  kConnectFailed = 5,
};

// The server's default port, taken when the address names none.
inline constexpr const char* kDefaultPort = "9010";

struct Options {
  enum class Mode { kChat, kEncode, kDecode };
  Mode mode = Mode::kChat;
  std::string host;
  std::string port;
  ClientState state;
  bool macGiven = false;
  bool ipGiven = false;
  bool statusGiven = false;
  std::string settingsFile;
  bool serverNameGiven = false;
  bool raw = false;
  bool announce = true;
  bool batch = false;
  std::vector<std::string> sends;
  double waitSeconds = 1.0;
  int gapMs = 100;
  bool utf8 = false;
  bool lines = false;
};

// A MAC text for a client that was given none, different from run to run.
std::string MadeUpMac();

}  // namespace orv::client
