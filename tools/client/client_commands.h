// Turns what an operator types into the packet the terminal client sends: chat text, or one
// of the slash commands (/list, /profile, /status, /file, /send, /raw, /quit, /help).
#pragma once

#include <string>
#include <string_view>

#include "client_packets.h"

namespace orv::client {

// What the client knows about itself and the server while it runs.
struct ClientState {
  Identity who;
  std::string subject{kOwnSubject};
  int statusCode = 0;
  std::string statusText;
  std::string serverName;  // empty until learnt or given
};

struct Action {
  enum class Kind { kNothing, kSend, kQuit, kHelp, kError };
  Kind kind = Kind::kNothing;
  // The text to encode and send: a whole packet, or for /raw the typed text as it is.
  std::string text;
  std::string message;  // for kError: what is wrong, in words
};

// The packet that announces the client (type 2 with its current status).
std::string AnnouncePacket(const ClientState& state);

// One typed line (already in the wire code page). /status also changes the state, so a later
// /list announces the new status. A line starting with "//" sends chat text starting with "/".
Action TranslateInput(std::string_view line, ClientState& state);

// The command summary /help prints.
std::string_view HelpText();

}  // namespace orv::client
