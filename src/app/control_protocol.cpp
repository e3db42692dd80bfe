#include "app/control_protocol.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "app/headless_console.h"
#include "app/headless_view.h"
#include "console/escape.h"

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

ControlAnswer FromOutcome(const Outcome& outcome) {
  ControlAnswer answer;
  answer.status = outcome.done ? kControlOk : kControlRefused;
  for (const std::string& line : outcome.lines) {
    const std::string text = TerminalText(line, false);
    if (outcome.done) {
      answer.Out(text);
    } else {
      answer.Err(text);
    }
  }
  return answer;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.remove_suffix(1);
  return text;
}

// Splits off the first blank-separated word of text.
std::string_view NextWord(std::string_view& text) {
  text = Trim(text);
  const auto end = text.find_first_of(" \t");
  const std::string_view word = text.substr(0, end);
  text = end == std::string_view::npos ? std::string_view() : Trim(text.substr(end));
  return word;
}

bool IsNumber(std::string_view word) {
  return !word.empty() && word.find_first_not_of("0123456789") == std::string_view::npos;
}

// A command for one user, named by the MAC that "orvchatctl users" prints (the action and
// its values as the console's row commands carry them).
struct UserRequest {
  ConsoleCommand action;
  std::string mac;  // as printed: UTF-8, control characters escaped
};

// Reads "/kick MAC", "/block ip|mac|name|address MAC", "/unblock MAC" and "/afs MAC VALUE". Nothing
// for other lines; a usage text in *usage when the line is one of these but wrong. The MAC
// is the rest of the line, so one with blanks inside can be given too.
std::optional<UserRequest> ParseUserRequest(std::string_view line, std::string* usage) {
  std::string_view rest = line;
  const std::string_view name = NextWord(rest);
  UserRequest request;
  std::string what;  // the command as the operator wrote it, for the usage text
  if (name == "/kick") {
    what = "kick";
    request.action.action = RowAction::kKick;
  } else if (name == "/unblock") {
    what = "unblock";
    request.action.action = RowAction::kUnblock;
  } else if (name == "/block") {
    const std::string_view kind = NextWord(rest);
    request.action.action = RowAction::kBlock;
    if (kind == "ip") {
      request.action.by = BlockState::kIp;
    } else if (kind == "mac") {
      request.action.by = BlockState::kMac;
    } else if (kind == "name") {
      request.action.by = BlockState::kName;
    } else if (kind == "address") {
      request.action.by = BlockState::kAddress;
    } else {
      *usage =
          "block needs ip, mac, name or address, then the MAC of a user as 'orvchatctl users' "
          "prints it";
      return std::nullopt;
    }
    what = "block " + std::string(kind);
  } else if (name == "/afs") {
    what = "afs";
    request.action.action = RowAction::kSetAfs;
    const auto last = rest.find_last_of(" \t");
    const std::string_view value = last == std::string_view::npos ? rest : rest.substr(last + 1);
    rest = last == std::string_view::npos ? std::string_view() : Trim(rest.substr(0, last));
    const char* afsUsage =
        "afs needs the MAC of a user as 'orvchatctl users' prints it, and a value from 0 to 100";
    if (rest.empty()) {
      *usage = afsUsage;
      return std::nullopt;
    }
    if (!IsNumber(value) || value.size() > 3 || std::stoi(std::string(value)) > 100) {
      *usage = std::string(afsUsage) + "; '" + std::string(value) + "' is not one";
      return std::nullopt;
    }
    request.action.afsValue = std::stoi(std::string(value));
  } else {
    return std::nullopt;
  }
  if (rest.empty()) {
    *usage = what + " needs the MAC of a user as 'orvchatctl users' prints it";
    return std::nullopt;
  }
  request.mac = std::string(rest);
  return request;
}

// The MAC as "orvchatctl users" prints it; the operator gives it back in this form.
std::string PrintedMac(const UserRow& row) {
  return TerminalText(EscapeControlCharacters(row.mac), false);
}

// What looking a MAC up came to: the row found, or why it named nobody and the status that
// ends orvchatctl then.
struct Lookup {
  int row = -1;
  int status = kControlOk;
  std::string why;
};

// The user whose printed MAC is mac, or -1 with why in *lookup.
int FindByMac(const std::vector<UserRow>& rows, const std::string& mac, Lookup* lookup) {
  int found = -1;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (PrintedMac(rows[i]) != mac) continue;
    if (found >= 0) {
      // Two MACs that print alike (one with a control character, one with its escape
      // written out): acting on either could be the wrong one.
      lookup->status = kControlRefused;
      lookup->why = "More than one user online shows as MAC '" + mac +
                    "'; nothing was done. Use the server's console for them.";
      return -1;
    }
    found = static_cast<int>(i);
  }
  if (found >= 0) return lookup->row = found;
  if (IsNumber(mac)) {
    // Most likely a row number: rows move as users come and go, so orvchatctl does not take
    // them.
    lookup->status = kControlUsage;
    lookup->why = "'" + mac +
                  "' is not the MAC of a user online; nothing was done. orvchatctl takes the "
                  "MAC that 'orvchatctl users' prints, not a row number (a row can hold "
                  "somebody else by the time the command arrives).";
  } else {
    lookup->status = kControlRefused;
    lookup->why =
        "No user with MAC '" + mac + "' is online (see orvchatctl users); nothing was done.";
  }
  return -1;
}

// The user listing for orvchatctl: the console's table without its row column, MAC first,
// since orvchatctl names users by MAC.
std::vector<std::string> ListingWithoutRows(std::vector<std::string> lines) {
  if (lines.size() < 2) return lines;  // "no users"
  // The row column holds digits only, padded to one width: the MAC column starts where
  // its header does on every line.
  const std::size_t macColumn = lines.front().find("MAC");
  if (macColumn == std::string::npos) return lines;
  for (std::string& line : lines)
    line.erase(0, std::min(macColumn, line.size()));
  return lines;
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

std::string ControlHelpText() {
  return "Commands (a user is named by the MAC that 'users' prints):\n"
         "  status                 version, address and port, listening or why not, users "
         "online, uptime\n"
         "  users                  the connected users, with their MACs\n"
         "  kick MAC               disconnect the user with the kick message\n"
         "  block ip|mac|name|address MAC\n"
         "                         block the user's IP address, MAC, name, or the address its\n"
         "                         connection comes from\n"
         "  unblock MAC            lift the user's block\n"
         "  afs MAC VALUE          set the user's AFS value (0 to 100)\n"
         "  send TEXT...           send TEXT to every client as a server message\n"
         "  refresh                report the user count and refresh the list\n"
         "  reload                 read the settings again (as SIGHUP does)\n"
         "  stop                   send the close message and stop the server";
}

void ExecuteControlRequest(EngineCommands& engine, std::string_view requestLine,
                           std::function<void(ControlAnswer)> done,
                           const std::function<void()>& requestStop) {
  using Kind = ConsoleCommand::Kind;
  auto answerWith = [&done](int status, const std::string& text, bool toStdout) {
    ControlAnswer answer;
    answer.status = status;
    for (std::string& line : SplitLines(text))
      answer.lines.push_back({toStdout, std::move(line)});
    done(std::move(answer));
  };

  // Commands for one user name the user by MAC as "users" printed it: the user is found by
  // that among the users online, and the command goes to the engine for that user's MAC
  // (refused there, should the user have left meanwhile).
  std::string usage;
  if (std::optional<UserRequest> request = ParseUserRequest(requestLine, &usage)) {
    engine.Execute(command::Users{}, [&engine, done, request = std::move(*request)](Outcome users) {
      Lookup lookup;
      const int row = FindByMac(users.users, request.mac, &lookup);
      if (row < 0) {
        ControlAnswer refused;
        refused.status = lookup.status;
        refused.Err(lookup.why);
        done(std::move(refused));
        return;
      }
      engine.Execute(CommandForUser(request.action, users.users[static_cast<std::size_t>(row)].mac),
                     [done](Outcome outcome) { done(FromOutcome(outcome)); });
    });
    return;
  }
  if (!usage.empty()) {
    answerWith(kControlUsage, usage, false);
    return;
  }

  ConsoleCommand command = ParseConsoleLine(requestLine);
  switch (command.kind) {
    case Kind::kNothing:
      answerWith(kControlUsage, "no command was given", false);
      return;
    case Kind::kError:
      answerWith(kControlUsage, command.text, false);
      return;
    case Kind::kHelp:
      answerWith(kControlOk, ControlHelpText(), true);
      return;
    case Kind::kExit:
      answerWith(kControlOk, "The server is stopping.", true);
      if (requestStop) requestStop();
      return;
    case Kind::kRow:
      // Read above as commands for a user named by MAC; a console line never gets here.
      answerWith(kControlUsage, "name the user by the MAC that 'orvchatctl users' prints", false);
      return;
    case Kind::kEngine:
      break;
  }
  OperatorCommand& operatorCommand = command.command;
  if (std::holds_alternative<command::Status>(operatorCommand)) {
    engine.Execute(operatorCommand, [done](Outcome outcome) {
      ControlAnswer answer;
      for (std::string& line : FormatStatus(outcome.status))
        answer.Out(std::move(line));
      done(std::move(answer));
    });
  } else if (std::holds_alternative<command::Users>(operatorCommand)) {
    engine.Execute(operatorCommand, [done](Outcome outcome) {
      ControlAnswer answer;
      for (std::string& line : ListingWithoutRows(FormatUserRows(outcome.users)))
        answer.Out(std::move(line));
      done(std::move(answer));
    });
  } else if (std::holds_alternative<command::Blocks>(operatorCommand)) {
    engine.Execute(operatorCommand, [done](Outcome outcome) {
      ControlAnswer answer;
      for (std::string& line : FormatBlocks(outcome.blocks))
        answer.Out(std::move(line));
      done(std::move(answer));
    });
  } else if (std::holds_alternative<command::Send>(operatorCommand)) {
    engine.Execute(std::move(operatorCommand), [done](Outcome outcome) {
      // The engine sends nothing shorter than 2 characters, and then says nothing.
      if (outcome.lines.empty()) {
        outcome.done = false;
        outcome.lines.push_back("Nothing was sent: a message needs at least 2 characters.");
      }
      done(FromOutcome(outcome));
    });
  } else {
    engine.Execute(std::move(operatorCommand),
                   [done](Outcome outcome) { done(FromOutcome(outcome)); });
  }
}

}  // namespace orv
