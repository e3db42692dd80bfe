#include "app/control_protocol.h"

#include <array>
#include <utility>

#include "app/headless_view.h"
#include "console/code_page.h"

namespace orv {

namespace {

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

// Reading requests: one row per command word.

struct ControlVerb;
using Reader = ControlRequest (*)(const ControlVerb& verb, std::string_view rest);

struct ControlVerb {
  struct Form {
    const char* arguments = nullptr;  // as the help shows them; nullptr: no second form
    const char* help = nullptr;       // line breaks continue it, indented
  };
  const char* word;
  std::array<Form, 2> forms;
  Reader read;
};

ControlRequest Usage(std::string text) {
  ControlRequest request;
  request.kind = ControlRequest::Kind::kUsage;
  request.usage = std::move(text);
  return request;
}

ControlRequest Request(ControlRequest::Kind kind, OperatorCommand command = command::Status{}) {
  ControlRequest request;
  request.kind = kind;
  request.command = std::move(command);
  request.answer = &OutcomeAnswer;
  return request;
}

ControlRequest NoArguments(const ControlVerb& verb, std::string_view rest, ControlRequest request) {
  if (!rest.empty()) return Usage(std::string(verb.word) + " takes no arguments");
  return request;
}

// "" or "--json".
ControlRequest MaybeJson(const ControlVerb& verb, std::string_view rest, ControlRequest request) {
  if (rest == "--json") {
    request.json = true;
  } else if (!rest.empty()) {
    return Usage(std::string(verb.word) + " takes no arguments but --json");
  }
  return request;
}

ControlRequest Listing(const ControlVerb& verb, std::string_view rest, OperatorCommand command,
                       ControlAnswer (*answer)(const Outcome&, bool)) {
  ControlRequest request = Request(ControlRequest::Kind::kEngine, std::move(command));
  request.answer = answer;
  return MaybeJson(verb, rest, std::move(request));
}

// A command for the user whose MAC, as printed, is the rest of the line (so that one with
// blanks inside can be given too).
ControlRequest ForUser(std::string what, std::string_view rest, OperatorCommand command) {
  if (rest.empty()) return Usage(what + " needs the MAC of a user as 'orvchatctl users' prints it");
  ControlRequest request = Request(ControlRequest::Kind::kForUser, std::move(command));
  request.named = std::string(rest);
  return request;
}

ControlRequest ReadBlock(const ControlVerb&, std::string_view rest) {
  const std::string_view kind = NextWord(rest);
  BlockState by = BlockState::kNone;
  if (kind == "ip") {
    by = BlockState::kIp;
  } else if (kind == "mac") {
    by = BlockState::kMac;
  } else if (kind == "name") {
    by = BlockState::kName;
  } else if (kind == "address") {
    by = BlockState::kAddress;
  } else {
    return Usage(
        "block needs ip, mac, name or address, then the MAC of a user as 'orvchatctl users' "
        "prints it");
  }
  return ForUser("block " + std::string(kind), rest, command::Block{{}, by});
}

// "unblock MAC" for a user online; "unblock --ip|--mac|--name VALUE" for a stored block,
// online or not. The flag says what the value is; the block list keeps every kind of key
// in one list, so it is looked up there as it is.
ControlRequest ReadUnblock(const ControlVerb&, std::string_view rest) {
  std::string_view value = rest;
  const std::string_view flag = NextWord(value);
  if (flag == "--ip" || flag == "--mac" || flag == "--name") {
    if (value.empty()) {
      return Usage("unblock " + std::string(flag) +
                   " needs the key of a stored block as 'orvchatctl blocks' prints it");
    }
    ControlRequest request = Request(ControlRequest::Kind::kForEntry, command::UnblockEntry{});
    request.named = std::string(value);
    return request;
  }
  if (flag.rfind("--", 0) == 0) {
    return Usage("unblock takes --ip, --mac or --name before a stored block's key, not " +
                 std::string(flag));
  }
  return ForUser("unblock", rest, command::Unblock{});
}

ControlRequest ReadAfs(const ControlVerb&, std::string_view rest) {
  const auto last = rest.find_last_of(" \t");
  const std::string_view value = last == std::string_view::npos ? rest : rest.substr(last + 1);
  rest = last == std::string_view::npos ? std::string_view() : Trim(rest.substr(0, last));
  const std::string usage =
      "afs needs the MAC of a user as 'orvchatctl users' prints it, and a value from 0 to 100";
  if (rest.empty()) return Usage(usage);
  if (!IsNumber(value) || value.size() > 3 || std::stoi(std::string(value)) > 100)
    return Usage(usage + "; '" + std::string(value) + "' is not one");
  return ForUser("afs", rest, command::SetAfs{{}, std::stoi(std::string(value))});
}

ControlRequest ReadSend(const ControlVerb&, std::string_view rest) {
  if (rest.empty()) return Usage("send needs the text to send");
  ControlRequest request =
      Request(ControlRequest::Kind::kEngine, command::Send{Utf8ToCp1251(rest)});
  request.answer = &SendAnswer;
  return request;
}

// orvchatctl's commands: the words, their help, and what each becomes. The only place the
// control channel spells a command.
constexpr ControlVerb kVerbs[] = {
    {"status",
     {{{"[--json]",
        "version, address and port, listening or why not, users online,\n"
        "connections, uptime"}}},
     [](const ControlVerb& v, std::string_view rest) {
       return Listing(v, rest, command::Status{}, &StatusAnswer);
     }},
    {"users",
     {{{"[--json]", "the connected users, with their MACs"}}},
     [](const ControlVerb& v, std::string_view rest) {
       return Listing(v, rest, command::Users{}, &UsersAnswer);
     }},
    {"blocks",
     {{{"[--json]",
        "the stored blocks (addresses, MACs, names), their users online\n"
        "or not"}}},
     [](const ControlVerb& v, std::string_view rest) {
       return Listing(v, rest, command::Blocks{}, &BlocksAnswer);
     }},
    {"kick",
     {{{"MAC", "disconnect the user with the kick message"}}},
     [](const ControlVerb&, std::string_view rest) {
       return ForUser("kick", rest, command::Kick{});
     }},
    {"block",
     {{{"ip|mac|name|address MAC",
        "block the user's IP address, MAC, name, or the address its\n"
        "connection comes from"}}},
     &ReadBlock},
    {"unblock",
     {{{"MAC", "lift the block of the user online with that MAC"},
       {"--ip|--mac|--name VALUE",
        "lift the stored block VALUE (as 'blocks' prints it), whether\n"
        "its user is online or not"}}},
     &ReadUnblock},
    {"afs", {{{"MAC VALUE", "set the user's AFS value (0 to 100)"}}}, &ReadAfs},
    {"send", {{{"TEXT...", "send TEXT to every client as a server message"}}}, &ReadSend},
    {"refresh",
     {{{"", "report the user count and refresh the list"}}},
     [](const ControlVerb& v, std::string_view rest) {
       return NoArguments(v, rest, Request(ControlRequest::Kind::kEngine, command::Refresh{}));
     }},
    {"reload",
     {{{"", "read the settings again (as SIGHUP does)"}}},
     [](const ControlVerb& v, std::string_view rest) {
       return NoArguments(v, rest, Request(ControlRequest::Kind::kEngine, command::Reload{}));
     }},
    {"follow",
     {{{"[--json]",
        "console lines, and users joining, changing and leaving, as they\n"
        "happen, until interrupted (Ctrl+C)"}}},
     [](const ControlVerb& v, std::string_view rest) {
       return MaybeJson(v, rest, Request(ControlRequest::Kind::kFollow));
     }},
    {"stop",
     {{{"", "send the close message and stop the server"}}},
     [](const ControlVerb& v, std::string_view rest) {
       return NoArguments(v, rest, Request(ControlRequest::Kind::kStop));
     }},
    {"help",
     {{{"", "this list"}}},
     [](const ControlVerb& v, std::string_view rest) {
       return NoArguments(v, rest, Request(ControlRequest::Kind::kHelp));
     }},
};

// The MAC of the command for one user, once found.
void SetMac(OperatorCommand& command, std::string mac) {
  std::visit(
      [&mac](auto& c) {
        if constexpr (requires { c.mac; }) c.mac = std::move(mac);
      },
      command);
}

// What looking a user or a block up came to: the one found, or why there was none and the
// status that ends orvchatctl then.
struct Lookup {
  int found = -1;
  int status = kControlOk;
  std::string why;
};

// The user whose printed MAC is mac.
Lookup FindUser(const std::vector<UserRow>& rows, const std::string& mac) {
  Lookup lookup;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (PrintedText(rows[i].mac) != mac) continue;
    if (lookup.found >= 0) {
      // Two MACs that print alike (one with a control character, one with its escape
      // written out): acting on either could be the wrong one.
      return {-1, kControlRefused,
              "More than one user online shows as MAC '" + mac +
                  "'; nothing was done. Use the server's console for them."};
    }
    lookup.found = static_cast<int>(i);
  }
  if (lookup.found >= 0) return lookup;
  if (IsNumber(mac)) {
    // Most likely a row number: rows move as users come and go, so orvchatctl does not take
    // them.
    return {-1, kControlUsage,
            "'" + mac +
                "' is not the MAC of a user online; nothing was done. orvchatctl takes the MAC "
                "that 'orvchatctl users' prints, not a row number (a row can hold somebody else "
                "by the time the command arrives)."};
  }
  return {-1, kControlRefused,
          "No user with MAC '" + mac + "' is online (see orvchatctl users); nothing was done."};
}

void AnswerWith(const std::function<void(ControlAnswer)>& done, int status, const std::string& text,
                bool toStdout) {
  done(TextAnswer(status, text, toStdout));
}

// A user named by the MAC "users" printed is found among the users online, and the command
// goes to the engine for that user's MAC (refused there, should the user have left
// meanwhile).
void ExecuteForUser(EngineCommands& engine, const ControlRequest& request,
                    std::function<void(ControlAnswer)> done) {
  engine.Execute(command::Users{}, [&engine, done = std::move(done), request](Outcome users) {
    const Lookup lookup = FindUser(users.users, request.named);
    if (lookup.found < 0) {
      AnswerWith(done, lookup.status, lookup.why, false);
      return;
    }
    OperatorCommand command = request.command;
    SetMac(command, users.users[static_cast<std::size_t>(lookup.found)].mac);
    engine.Execute(std::move(command),
                   [done](Outcome outcome) { done(OutcomeAnswer(outcome, false)); });
  });
}

// A stored block named by its key as "blocks" printed it: the entry that prints so is
// lifted. A key given otherwise (in other letter case, say) goes to the engine as it is,
// which finds it or says the list holds no such block.
void ExecuteForEntry(EngineCommands& engine, const ControlRequest& request,
                     std::function<void(ControlAnswer)> done) {
  engine.Execute(command::Blocks{}, [&engine, done = std::move(done), request](Outcome blocks) {
    StoredBlockKey found = FindStoredBlock(blocks.blocks, request.named);
    if (found.ambiguous) {
      AnswerWith(done, kControlRefused,
                 "More than one stored block shows as '" + request.named +
                     "'; nothing was done. Edit the block list for them.",
                 false);
      return;
    }
    engine.Execute(command::UnblockEntry{std::move(found.key)},
                   [done](Outcome outcome) { done(OutcomeAnswer(outcome, false)); });
  });
}

}  // namespace

ControlRequest ReadControlRequest(std::string_view requestLine) {
  std::string_view rest = Trim(requestLine);
  if (rest.empty()) return Usage("no command was given");
  if (rest.front() != '/') return Usage("a request is / and one of orvchatctl's commands");
  rest.remove_prefix(1);
  const std::string_view word = NextWord(rest);
  for (const ControlVerb& verb : kVerbs) {
    if (word == verb.word) return verb.read(verb, rest);
  }
  return Usage("unknown command '" + std::string(word) + "'");
}

std::optional<std::string> ControlRequestFor(const std::string& command,
                                             const std::vector<std::string>& args,
                                             std::string* error) {
  std::string line = "/" + command;
  for (const std::string& arg : args)
    line += " " + arg;
  // One request is one line.
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  const ControlRequest request = ReadControlRequest(line);
  if (request.kind == ControlRequest::Kind::kUsage) {
    if (error) *error = request.usage;
    return std::nullopt;
  }
  return line;
}

std::string ControlHelpText() {
  constexpr std::size_t kHelpColumn = 25;
  std::string text = "Commands (a user is named by the MAC that 'users' prints):";
  for (const ControlVerb& verb : kVerbs) {
    for (const ControlVerb::Form& form : verb.forms) {
      if (form.help == nullptr) continue;
      std::string usage = "  " + std::string(verb.word);
      if (*form.arguments != '\0') usage += " " + std::string(form.arguments);
      text += "\n" + usage;
      if (usage.size() + 1 > kHelpColumn) {
        text += "\n";
        usage.clear();
      }
      text += std::string(kHelpColumn - usage.size(), ' ');
      for (const char c : std::string_view(form.help)) {
        text += c;
        if (c == '\n') text += std::string(kHelpColumn, ' ');
      }
    }
  }
  return text +
         "\n--json gives one JSON document per line, in the form the README describes, for "
         "scripts.";
}

void ExecuteControlRequest(EngineCommands& engine, const ControlRequest& request,
                           std::function<void(ControlAnswer)> done,
                           const std::function<void()>& requestStop) {
  using Kind = ControlRequest::Kind;
  switch (request.kind) {
    case Kind::kUsage:
      AnswerWith(done, kControlUsage, request.usage, false);
      return;
    case Kind::kHelp:
      AnswerWith(done, kControlOk, ControlHelpText(), true);
      return;
    case Kind::kStop:
      AnswerWith(done, kControlOk, "The server is stopping.", true);
      if (requestStop) requestStop();
      return;
    case Kind::kFollow:
      AnswerWith(done, kControlUsage, "follow is a stream only the control socket gives", false);
      return;
    case Kind::kForUser:
      ExecuteForUser(engine, request, std::move(done));
      return;
    case Kind::kForEntry:
      ExecuteForEntry(engine, request, std::move(done));
      return;
    case Kind::kEngine:
      break;
  }
  engine.Execute(request.command,
                 [done = std::move(done), answer = request.answer,
                  json = request.json](Outcome outcome) { done(answer(outcome, json)); });
}

void ExecuteControlRequest(EngineCommands& engine, std::string_view requestLine,
                           std::function<void(ControlAnswer)> done,
                           const std::function<void()>& requestStop) {
  ExecuteControlRequest(engine, ReadControlRequest(requestLine), std::move(done), requestStop);
}

}  // namespace orv
