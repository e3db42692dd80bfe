// The control channel between orvchatctl and a running server. A request is one line of
// UTF-8 text, a command as the headless console takes it ("/status", "hello" to send),
// except that commands for one user name the user by the MAC that "orvchatctl users"
// prints, never by row ("/kick 00AABBCCDDEE", "/afs 00AABBCCDDEE 20"). The answer is lines "out
// TEXT" (for the program's stdout) and "err TEXT" (for its stderr), then "end N", the status the
// program ends with; then the server closes.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/engine_commands.h"

namespace orv {

// The socket's name in the working folder, unless the server is told another path.
inline constexpr const char* kControlSocketName = "orvchatserver.sock";

// Exit statuses of orvchatctl, also carried in the answer's last line.
enum ControlStatus : int {
  kControlOk = 0,
  kControlRefused = 1,   // the server carried nothing out, and said why
  kControlUsage = 2,     // the command line was wrong (here or as the server read it)
  kControlNoServer = 3,  // nothing answers on the socket
  kControlNoAnswer = 4,  // the server took the request but gave no whole answer in time
};

struct ControlAnswer {
  int status = kControlOk;
  struct Line {
    bool toStdout = true;
    std::string text;  // UTF-8, one line
  };
  std::vector<Line> lines;

  void Out(std::string text) { lines.push_back({true, std::move(text)}); }
  void Err(std::string text) { lines.push_back({false, std::move(text)}); }
};

// The wire form of an answer, and back. Parsing tells whether the answer was complete
// (ended with its "end" line).
std::string EncodeControlAnswer(const ControlAnswer& answer);
std::optional<ControlAnswer> DecodeControlAnswer(std::string_view text);

// The request line orvchatctl sends for a command word and its arguments; nothing (with
// error set) when the word is none of the commands.
std::optional<std::string> ControlRequestFor(const std::string& command,
                                             const std::vector<std::string>& args,
                                             std::string* error);

// orvchatctl's commands and what they do, for its --help and the help command.
std::string ControlHelpText();

// Carries out one request through the engine's commands. done runs once with the answer,
// on the engine thread or at once; requestStop is called after done for the stop
// command.
void ExecuteControlRequest(EngineCommands& engine, std::string_view requestLine,
                           std::function<void(ControlAnswer)> done,
                           const std::function<void()>& requestStop);

}  // namespace orv
