#include "app/headless_console.h"

#include <charconv>
#include <chrono>
#include <utility>

#include "app/headless_view.h"
#include "app/platform.h"
#include "console/code_page.h"
#include "console/escape.h"

namespace orv {

namespace {

// A line longer than this without a line end is dropped rather than held in memory.
constexpr std::size_t kLongestLine = 1 << 20;

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.remove_suffix(1);
  return text;
}

// Splits off the first space-separated word of text.
std::string_view NextWord(std::string_view& text) {
  text = Trim(text);
  const auto end = text.find_first_of(" \t");
  const std::string_view word = text.substr(0, end);
  text = end == std::string_view::npos ? std::string_view() : Trim(text.substr(end));
  return word;
}

bool ReadNumber(std::string_view word, int* value) {
  if (word.empty()) return false;
  int parsed = 0;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), parsed);
  if (error != std::errc() || end != word.data() + word.size()) return false;
  *value = parsed;
  return true;
}

ConsoleCommand Error(std::string text) {
  ConsoleCommand command;
  command.kind = ConsoleCommand::Kind::kError;
  command.text = std::move(text);
  return command;
}

// Reads "ROW" (the whole rest) into command; an error command when it is not a row.
ConsoleCommand RowArgument(std::string_view name, std::string_view rest, ConsoleCommand command) {
  const std::string usage = std::string(name) + " needs a row number (see /users)";
  const std::string_view word = NextWord(rest);
  if (word.empty()) return Error(usage);
  if (!rest.empty()) return Error(usage + ", and nothing after it");
  if (!ReadNumber(word, &command.row) || command.row < 0) {
    return Error(usage + "; '" + std::string(word) + "' is not one");
  }
  return command;
}

}  // namespace

std::string ConsoleHelpText() {
  return "Commands (rows are numbered from 0, as /users shows them):\n"
         "  /status             version, address and port, users online, uptime\n"
         "  /users              list the connected users\n"
         "  /refresh            report the user count and refresh the list\n"
         "  /reload             read the settings again (as SIGHUP does)\n"
         "  /kick ROW           disconnect the user with the kick message\n"
         "  /block ip ROW       block the user's IP address (also: mac, name, and address:\n"
         "                      the address the connection comes from)\n"
         "  /unblock ROW        lift the user's block\n"
         "  /afs ROW VALUE      set the user's AFS value (0 to 100)\n"
         "  /blocks             list the stored blocks, online or not\n"
         "  /unblock-entry KEY  lift the stored block KEY (an address, a MAC or a name)\n"
         "  /exit               send the close message and stop the server\n"
         "  /help               this list\n"
         "Any other line goes to every client as a server message; begin it with // to\n"
         "send a text that starts with /.";
}

ConsoleCommand ParseConsoleLine(std::string_view line) {
  using Kind = ConsoleCommand::Kind;
  ConsoleCommand command;
  auto engine = [&command](OperatorCommand value) {
    command.kind = Kind::kEngine;
    command.command = std::move(value);
    return command;
  };
  if (line.empty()) return command;
  if (line.size() >= 2 && line[0] == '/' && line[1] == '/') {
    return engine(command::Send{Utf8ToCp1251(line.substr(1))});
  }
  if (line[0] != '/') return engine(command::Send{Utf8ToCp1251(line)});

  std::string_view rest = line;
  const std::string_view name = NextWord(rest);
  auto noArguments = [&](Kind kind, OperatorCommand value = command::Status{}) {
    if (!rest.empty()) return Error(std::string(name) + " takes no arguments");
    command.kind = kind;
    command.command = std::move(value);
    return command;
  };
  if (name == "/users") return noArguments(Kind::kEngine, command::Users{});
  if (name == "/status") return noArguments(Kind::kEngine, command::Status{});
  if (name == "/refresh") return noArguments(Kind::kEngine, command::Refresh{});
  if (name == "/reload") return noArguments(Kind::kEngine, command::Reload{});
  if (name == "/blocks") return noArguments(Kind::kEngine, command::Blocks{});
  if (name == "/exit") return noArguments(Kind::kExit);
  if (name == "/help") return noArguments(Kind::kHelp);
  if (name == "/unblock-entry") {
    // The key is the rest of the line: names may hold blanks.
    if (rest.empty()) return Error("/unblock-entry needs the key of a stored block (see /blocks)");
    return engine(command::UnblockEntry{Utf8ToCp1251(rest)});
  }
  if (name == "/kick") {
    command.kind = Kind::kRow;
    command.action = RowAction::kKick;
    return RowArgument(name, rest, command);
  }
  if (name == "/unblock") {
    command.kind = Kind::kRow;
    command.action = RowAction::kUnblock;
    return RowArgument(name, rest, command);
  }
  if (name == "/block") {
    const std::string_view what = NextWord(rest);
    command.kind = Kind::kRow;
    command.action = RowAction::kBlock;
    if (what == "ip") {
      command.by = BlockState::kIp;
    } else if (what == "mac") {
      command.by = BlockState::kMac;
    } else if (what == "name") {
      command.by = BlockState::kName;
    } else if (what == "address") {
      command.by = BlockState::kAddress;
    } else {
      return Error("/block needs ip, mac, name or address, then a row number (see /users)");
    }
    return RowArgument("/block " + std::string(what), rest, command);
  }
  if (name == "/afs") {
    const std::string_view rowWord = NextWord(rest);
    const std::string_view valueWord = NextWord(rest);
    const char* usage = "/afs needs a row number (see /users) and a value from 0 to 100";
    if (rowWord.empty() || valueWord.empty() || !rest.empty()) return Error(usage);
    if (!ReadNumber(rowWord, &command.row) || command.row < 0) {
      return Error(std::string(usage) + "; '" + std::string(rowWord) + "' is not a row");
    }
    if (!ReadNumber(valueWord, &command.afsValue) || command.afsValue < 0 ||
        command.afsValue > 100) {
      return Error(std::string(usage) + "; '" + std::string(valueWord) + "' is not one");
    }
    command.kind = Kind::kRow;
    command.action = RowAction::kSetAfs;
    return command;
  }
  return Error("unknown command " + std::string(name) +
               " (nothing was sent); /help lists the commands, and a message that begins "
               "with / is written //...");
}

OperatorCommand CommandForUser(const ConsoleCommand& rowCommand, std::string mac) {
  switch (rowCommand.action) {
    case RowAction::kKick:
      return command::Kick{std::move(mac)};
    case RowAction::kBlock:
      return command::Block{std::move(mac), rowCommand.by};
    case RowAction::kUnblock:
      return command::Unblock{std::move(mac)};
    case RowAction::kSetAfs:
      break;
  }
  return command::SetAfs{std::move(mac), rowCommand.afsValue};
}

HeadlessConsole::HeadlessConsole(EngineCommands& engine, std::FILE* out,
                                 std::function<void()> requestExit)
    : engine_(engine), out_(out), requestExit_(std::move(requestExit)) {}

HeadlessConsole::~HeadlessConsole() {
  Stop();
}

void HeadlessConsole::Start() {
  if (reader_.joinable()) return;
  stop_ = false;
  reader_ = std::thread([this] { ReadLoop(); });
}

void HeadlessConsole::Stop() {
  stop_ = true;
  if (!reader_.joinable()) return;
  if (StdinReadTimesOut()) {
    reader_.join();
  } else {
    reader_.detach();
  }
}

void HeadlessConsole::ReadLoop() {
  std::string pending;
  while (!stop_) {
    const StdinRead result = ReadStdinChunk(pending, std::chrono::milliseconds(200));
    if (stop_) break;
    std::size_t start = 0;
    for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
      std::string_view line(pending.data() + start, end - start);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      HandleLine(line);
      if (stop_) return;
    }
    pending.erase(0, start);
    if (result == StdinRead::kEnd) {
      if (!pending.empty()) HandleLine(pending);
      return;
    }
    if (pending.size() > kLongestLine) {
      WriteLine(out_, "a line of more than 1 MiB was dropped");
      pending.clear();
    }
  }
}

void HeadlessConsole::HandleLine(std::string_view utf8Line) {
  using Kind = ConsoleCommand::Kind;
  ConsoleCommand command = ParseConsoleLine(utf8Line);
  switch (command.kind) {
    case Kind::kNothing:
      return;
    case Kind::kError:
      WriteLine(out_, command.text);
      return;
    case Kind::kHelp:
      WriteLine(out_, ConsoleHelpText());
      return;
    case Kind::kExit:
      if (requestExit_) requestExit_();
      return;
    case Kind::kRow:
      RunRowCommand(command);
      return;
    case Kind::kEngine:
      break;
  }
  if (std::holds_alternative<command::Users>(command.command)) {
    engine_.Execute(command.command, [this](Outcome outcome) {
      {
        // The commands that follow name rows of this listing: remember who was in each.
        std::lock_guard lock(listingMutex_);
        listing_.clear();
        for (const UserRow& row : outcome.users)
          listing_.push_back(row.mac);
        haveListing_ = true;
      }
      for (const std::string& line : FormatUserRows(outcome.users))
        WriteLine(out_, line);
    });
  } else if (std::holds_alternative<command::Status>(command.command)) {
    engine_.Execute(command.command, [this](Outcome outcome) {
      for (const std::string& line : FormatStatus(outcome.status))
        WriteLine(out_, line);
    });
  } else if (std::holds_alternative<command::Blocks>(command.command)) {
    engine_.Execute(command.command, [this](Outcome outcome) {
      for (const std::string& line : FormatBlocks(outcome.blocks))
        WriteLine(out_, line);
    });
  } else if (const auto* entry = std::get_if<command::UnblockEntry>(&command.command)) {
    // The key as /blocks shows it (escapes and all) names the entry shown so.
    engine_.Execute(command::Blocks{}, [this, typed = entry->key](Outcome blocks) {
      StoredBlockKey found = FindStoredBlock(blocks.blocks, Cp1251ToUtf8(typed));
      if (found.ambiguous) {
        WriteLine(out_, "More than one stored block shows as '" + TerminalText(typed, false) +
                            "'; nothing was done. Edit the block list for them.");
        return;
      }
      engine_.Execute(command::UnblockEntry{std::move(found.key)},
                      [this](Outcome outcome) { ShowRefusal(outcome); });
    });
  } else {
    engine_.Execute(std::move(command.command), [this](Outcome outcome) { ShowRefusal(outcome); });
  }
}

void HeadlessConsole::RunRowCommand(const ConsoleCommand& command) {
  std::string mac;
  bool listed = false;
  if (ListedMac(command.row, &mac, &listed)) {
    engine_.Execute(CommandForUser(command, mac), [this, row = command.row, mac](Outcome outcome) {
      if (outcome.noSuchUser) {
        // The user the operator saw in that row has left since.
        WriteLine(out_, TerminalText("Row " + std::to_string(row) +
                                     " no longer holds the user with MAC " + ClientText(mac) +
                                     "; look at the list again."));
        return;
      }
      ShowRefusal(outcome);
    });
    return;
  }
  if (listed) {
    WriteLine(out_, "There was no row " + std::to_string(command.row) +
                        " in the last /users listing; nothing was done.");
    return;
  }
  // Before any listing the rows are taken as they are now.
  engine_.Execute(command::Users{}, [this, command](Outcome users) {
    if (command.row >= static_cast<int>(users.users.size())) {
      const std::size_t count = users.users.size();
      WriteLine(out_, "There is no row " + std::to_string(command.row) + " (the list has " +
                          std::to_string(count) + (count == 1 ? " row)." : " rows)."));
      return;
    }
    engine_.Execute(CommandForUser(command, users.users[static_cast<std::size_t>(command.row)].mac),
                    [this](Outcome outcome) { ShowRefusal(outcome); });
  });
}

void HeadlessConsole::ShowRefusal(const Outcome& outcome) {
  if (outcome.done) return;
  for (const std::string& line : outcome.lines)
    WriteLine(out_, TerminalText(line));
}

bool HeadlessConsole::ListedMac(int row, std::string* mac, bool* listed) {
  std::lock_guard lock(listingMutex_);
  *listed = haveListing_;
  // After a listing, a row means the user the operator saw there.
  if (!haveListing_) return false;
  if (row < 0 || static_cast<std::size_t>(row) >= listing_.size()) return false;
  *mac = listing_[static_cast<std::size_t>(row)];
  return true;
}

}  // namespace orv
