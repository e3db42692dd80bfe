// What the control channel answers, and how it travels: an answer is lines for orvchatctl's
// stdout and stderr and the status it ends with, written "out TEXT", "err TEXT" and "end N".
// Here too: the listings in words or in the JSON forms, and a follower's lines for each event.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/engine_event.h"
#include "server/operator_command.h"

namespace orv {

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

// One line of an answer as it arrives, without its line end: a line to show, or the end
// and its status. Nothing when it is neither.
struct ControlWireLine {
  bool end = false;
  int status = kControlOk;     // end
  ControlAnswer::Line line{};  // otherwise
};
std::optional<ControlWireLine> DecodeControlLine(std::string_view text);

// A code-page text (a MAC, a name, a block list key) as orvchatctl prints it in its
// listings: UTF-8, control characters escaped ("\x01"). The operator gives MACs and keys back
// in this form.
std::string PrintedText(const std::string& codePageText);

// How outcomes are answered. json: the stable form for scripts (control_json.h).
// The outcome's lines: on stdout when it was carried out, on stderr with status 1 when not.
ControlAnswer OutcomeAnswer(const Outcome& outcome, bool json);
// As OutcomeAnswer; a text too short to send, of which the engine says nothing, is refused.
ControlAnswer SendAnswer(const Outcome& outcome, bool json);
ControlAnswer StatusAnswer(const Outcome& outcome, bool json);
// The console's table without its row column, MAC first: orvchatctl names users by MAC.
ControlAnswer UsersAnswer(const Outcome& outcome, bool json);
ControlAnswer BlocksAnswer(const Outcome& outcome, bool json);
// An answer of text, one line for each of its lines.
ControlAnswer TextAnswer(int status, const std::string& text, bool toStdout);

// A follower's lines for one event (none for the events it does not show): the console
// line as the console shows it, or a user joining, changing or leaving; with json, the
// event as one JSON document.
std::vector<std::string> FollowLines(const EngineEvent& event, bool json);

}  // namespace orv
