// The control channel between orvchatctl and a running server. A request is one line of
// UTF-8 text: orvchatctl's command line, "/" and its words ("/status --json", "/send hello",
// "/kick 00AABBCCDDEE"). One table of those commands reads it into an operator command, or
// into one of the channel's own (help, follow, stop); a user is named by the MAC that
// "orvchatctl users" prints, never by row, and a stored block by its key as "orvchatctl blocks"
// prints it. The answer is lines "out TEXT" (for the program's stdout) and "err TEXT" (for its
// stderr), then "end N", the status the program ends with; then the server closes. To
// "/follow" the answer is a stream: a line for each event as it happens, ended by the same
// "end N" when the server stops or drops the follower.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/control_answer.h"
#include "app/engine_commands.h"

namespace orv {

// The socket's name in the working folder, unless the server is told another path.
inline constexpr const char* kControlSocketName = "orvchatserver.sock";

// What a request line asks for, as the table of orvchatctl's commands reads it.
struct ControlRequest {
  enum class Kind {
    kEngine,    // command, as it stands
    kForUser,   // command, for the user online whose MAC prints as named (its mac is set
                // once that user is found)
    kForEntry,  // command::UnblockEntry of the stored block whose key prints as named
    kFollow,    // the engine's events from now on, as a stream
    kHelp,
    kStop,
    kUsage,  // the line is wrong, and usage says why
  };
  Kind kind = Kind::kUsage;
  OperatorCommand command;  // kEngine; kForUser, kForEntry: without the MAC or the key
  std::string named;        // kForUser, kForEntry: UTF-8, as orvchatctl prints it
  bool json = false;        // --json: the stable form for scripts (control_json.h)
  std::string usage;        // kUsage (UTF-8)
  // How the outcome is answered (the listings' tables or JSON, or the outcome's lines).
  ControlAnswer (*answer)(const Outcome& outcome, bool json) = nullptr;
};

ControlRequest ReadControlRequest(std::string_view requestLine);

// The request line orvchatctl sends for a command word and its arguments; nothing (with
// error set) when the word is none of the commands or its arguments are wrong.
std::optional<std::string> ControlRequestFor(const std::string& command,
                                             const std::vector<std::string>& args,
                                             std::string* error);

// orvchatctl's commands and what they do, from the same table, for its --help and the
// help command.
std::string ControlHelpText();

// Carries out one request through the engine's commands. done runs once with the answer,
// on the engine thread or at once; requestStop is called after done for the stop command.
// A follow request is answered as a usage error: the channel itself streams (ControlServer).
void ExecuteControlRequest(EngineCommands& engine, const ControlRequest& request,
                           std::function<void(ControlAnswer)> done,
                           const std::function<void()>& requestStop);
void ExecuteControlRequest(EngineCommands& engine, std::string_view requestLine,
                           std::function<void(ControlAnswer)> done,
                           const std::function<void()>& requestStop);

}  // namespace orv
