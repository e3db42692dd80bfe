#include "app/headless_console.h"

#include <charconv>
#include <chrono>
#include <utility>

#include "app/headless_view.h"
#include "app/platform.h"
#include "console/code_page.h"

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
         "  /exit               send the close message and stop the server\n"
         "  /help               this list\n"
         "Any other line goes to every client as a server message; begin it with // to\n"
         "send a text that starts with /.";
}

ConsoleCommand ParseConsoleLine(std::string_view line) {
  using Kind = ConsoleCommand::Kind;
  ConsoleCommand command;
  if (line.empty()) return command;
  if (line.size() >= 2 && line[0] == '/' && line[1] == '/') {
    command.kind = Kind::kSend;
    command.text = Utf8ToCp1251(line.substr(1));
    return command;
  }
  if (line[0] != '/') {
    command.kind = Kind::kSend;
    command.text = Utf8ToCp1251(line);
    return command;
  }

  std::string_view rest = line;
  const std::string_view name = NextWord(rest);
  auto noArguments = [&](Kind kind) {
    if (!rest.empty()) return Error(std::string(name) + " takes no arguments");
    command.kind = kind;
    return command;
  };
  if (name == "/users") return noArguments(Kind::kUsers);
  if (name == "/status") return noArguments(Kind::kStatus);
  if (name == "/refresh") return noArguments(Kind::kRefresh);
  if (name == "/reload") return noArguments(Kind::kReload);
  if (name == "/exit") return noArguments(Kind::kExit);
  if (name == "/help") return noArguments(Kind::kHelp);
  if (name == "/kick") {
    command.kind = Kind::kRow;
    command.rowCommand = RowCommand::kKick;
    return RowArgument(name, rest, command);
  }
  if (name == "/unblock") {
    command.kind = Kind::kUnblock;
    return RowArgument(name, rest, command);
  }
  if (name == "/block") {
    const std::string_view what = NextWord(rest);
    command.kind = Kind::kRow;
    if (what == "ip") {
      command.rowCommand = RowCommand::kBlockIp;
    } else if (what == "mac") {
      command.rowCommand = RowCommand::kBlockMac;
    } else if (what == "name") {
      command.rowCommand = RowCommand::kBlockName;
    } else if (what == "address") {
      command.rowCommand = RowCommand::kBlockAddress;
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
    command.rowCommand = RowCommand::kSetAfs;
    return command;
  }
  return Error("unknown command " + std::string(name) +
               " (nothing was sent); /help lists the commands, and a message that begins "
               "with / is written //...");
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
    case Kind::kSend:
      engine_.Send(std::move(command.text));
      return;
    case Kind::kUsers:
      engine_.ListUsers([this](const std::vector<UserRow>& rows) {
        {
          // The commands that follow name rows of this listing: remember who was in each.
          std::lock_guard lock(listingMutex_);
          listing_.clear();
          for (const UserRow& row : rows)
            listing_.push_back(row.mac);
          haveListing_ = true;
        }
        for (const std::string& line : FormatUserRows(rows))
          WriteLine(out_, line);
      });
      return;
    case Kind::kStatus:
      engine_.Status([this](const ServerStatus& status) {
        for (const std::string& line : FormatStatus(status))
          WriteLine(out_, line);
      });
      return;
    case Kind::kRefresh:
      engine_.Refresh();
      return;
    case Kind::kReload:
      // The engine reports on the console what it took.
      engine_.Reload(nullptr);
      return;
    case Kind::kRow:
    case Kind::kUnblock: {
      std::string mac;
      if (!ListedMac(command.row, &mac)) {
        WriteLine(out_, "There was no row " + std::to_string(command.row) +
                            " in the last /users listing; nothing was done.");
        return;
      }
      if (command.kind == Kind::kUnblock) {
        engine_.UnblockRow(command.row, std::move(mac));
      } else {
        engine_.RunRowCommand(command.rowCommand, command.row, command.afsValue, std::move(mac));
      }
      return;
    }
  }
}

bool HeadlessConsole::ListedMac(int row, std::string* mac) {
  std::lock_guard lock(listingMutex_);
  // Before any listing the rows are taken as they are; after one, a row means the user the
  // operator saw there.
  if (!haveListing_) return true;
  if (row < 0 || static_cast<std::size_t>(row) >= listing_.size()) return false;
  *mac = listing_[static_cast<std::size_t>(row)];
  return true;
}

}  // namespace orv
