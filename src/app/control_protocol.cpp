#include "app/control_protocol.h"

#include <utility>

#include "app/headless_console.h"
#include "app/headless_view.h"

namespace orv {

namespace {

// Lines of a text that may hold line breaks.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

ControlAnswer FromOutcome(const CommandOutcome& outcome) {
  ControlAnswer answer;
  answer.status = outcome.ok ? kControlOk : kControlRefused;
  for (const std::string& line : outcome.lines) {
    const std::string text = TerminalText(line, false);
    if (outcome.ok) {
      answer.Out(text);
    } else {
      answer.Err(text);
    }
  }
  return answer;
}

}  // namespace

std::string EncodeControlAnswer(const ControlAnswer& answer) {
  std::string wire;
  for (const ControlAnswer::Line& line : answer.lines) {
    for (const std::string& part : SplitLines(line.text)) {
      wire += line.toStdout ? "out " : "err ";
      wire += part;
      wire += '\n';
    }
  }
  wire += "end " + std::to_string(answer.status) + "\n";
  return wire;
}

std::optional<ControlAnswer> DecodeControlAnswer(std::string_view text) {
  ControlAnswer answer;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) return std::nullopt;  // cut off
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (line.rfind("out ", 0) == 0) {
      answer.Out(std::string(line.substr(4)));
    } else if (line.rfind("err ", 0) == 0) {
      answer.Err(std::string(line.substr(4)));
    } else if (line.rfind("end ", 0) == 0) {
      const std::string_view number = line.substr(4);
      if (number.empty() || number.size() > 3 ||
          number.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
      }
      answer.status = std::stoi(std::string(number));
      return answer;
    } else {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

std::optional<std::string> ControlRequestFor(const std::string& command,
                                             const std::vector<std::string>& args,
                                             std::string* error) {
  auto joined = [&args] {
    std::string text;
    for (const std::string& arg : args) {
      if (!text.empty()) text += ' ';
      text += arg;
    }
    // One request is one line.
    for (char& c : text) {
      if (c == '\n' || c == '\r') c = ' ';
    }
    return text;
  };
  if (command == "send") {
    std::string text = joined();
    // The console sends a line that begins with "/" only when it is written "//".
    return !text.empty() && text.front() == '/' ? "/" + text : text;
  }
  static const char* const kCommands[] = {"status", "users",   "kick",   "block", "unblock",
                                          "afs",    "refresh", "reload", "help"};
  std::string word;
  if (command == "stop") {
    word = "exit";
  } else {
    for (const char* name : kCommands) {
      if (command == name) word = name;
    }
  }
  if (word.empty()) {
    if (error) *error = "unknown command '" + command + "'";
    return std::nullopt;
  }
  const std::string rest = joined();
  return "/" + word + (rest.empty() ? "" : " " + rest);
}

void ExecuteControlRequest(EngineCommands& engine, std::string_view requestLine,
                           std::function<void(ControlAnswer)> done,
                           const std::function<void()>& requestStop) {
  using Kind = ConsoleCommand::Kind;
  ConsoleCommand command = ParseConsoleLine(requestLine);
  auto answerWith = [&done](int status, const std::string& text, bool toStdout) {
    ControlAnswer answer;
    answer.status = status;
    for (std::string& line : SplitLines(text))
      answer.lines.push_back({toStdout, std::move(line)});
    done(std::move(answer));
  };
  switch (command.kind) {
    case Kind::kNothing:
      answerWith(kControlUsage, "no command was given", false);
      return;
    case Kind::kError:
      answerWith(kControlUsage, command.text, false);
      return;
    case Kind::kHelp:
      answerWith(kControlOk, ConsoleHelpText(), true);
      return;
    case Kind::kExit:
      answerWith(kControlOk, "The server is stopping.", true);
      if (requestStop) requestStop();
      return;
    case Kind::kStatus:
      engine.Status([done](const ServerStatus& status) {
        ControlAnswer answer;
        for (std::string& line : FormatStatus(status))
          answer.Out(std::move(line));
        done(std::move(answer));
      });
      return;
    case Kind::kUsers:
      engine.ListUsers([done](const std::vector<UserRow>& rows) {
        ControlAnswer answer;
        for (std::string& line : FormatUserRows(rows))
          answer.Out(std::move(line));
        done(std::move(answer));
      });
      return;
    case Kind::kSend:
      engine.SendAnswered(std::move(command.text), [done](CommandOutcome outcome) {
        // The engine sends nothing shorter than 2 characters, and then says nothing.
        if (outcome.lines.empty()) {
          outcome.ok = false;
          outcome.lines.push_back("Nothing was sent: a message needs at least 2 characters.");
        }
        done(FromOutcome(outcome));
      });
      return;
    case Kind::kRefresh:
      engine.RefreshAnswered([done](CommandOutcome outcome) { done(FromOutcome(outcome)); });
      return;
    case Kind::kReload:
      engine.Reload([done](CommandOutcome outcome) { done(FromOutcome(outcome)); });
      return;
    case Kind::kRow:
      engine.RunRowCommandAnswered(command.rowCommand, command.row, command.afsValue,
                                   [done](CommandOutcome outcome) { done(FromOutcome(outcome)); });
      return;
    case Kind::kUnblock:
      engine.UnblockRowAnswered(command.row,
                                [done](CommandOutcome outcome) { done(FromOutcome(outcome)); });
      return;
  }
}

}  // namespace orv
