// The operator's commands on standard input for the headless front-end: a reader thread
// takes lines and hands them to the engine's commands; it never touches engine state
// itself.
#pragma once

#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/engine_commands.h"
#include "server/chat_server.h"

namespace orv {

// One line typed by the operator, read.
struct ConsoleCommand {
  enum class Kind {
    kNothing,
    kSend,
    kUsers,
    kStatus,
    kRefresh,
    kReload,
    kRow,
    kUnblock,
    kExit,
    kHelp,
    kError
  };
  Kind kind = Kind::kNothing;
  std::string text;  // kSend: the code-page text to send; kError: what is wrong (UTF-8)
  RowCommand rowCommand = RowCommand::kKick;
  int row = 0;
  int afsValue = 0;
};

// utf8Line without its line end.
ConsoleCommand ParseConsoleLine(std::string_view utf8Line);

std::string ConsoleHelpText();

class HeadlessConsole {
 public:
  // out receives the console's own answers; requestExit is called for /exit (on the reader
  // thread).
  HeadlessConsole(EngineCommands& engine, std::FILE* out, std::function<void()> requestExit);
  ~HeadlessConsole();
  HeadlessConsole(const HeadlessConsole&) = delete;
  HeadlessConsole& operator=(const HeadlessConsole&) = delete;

  // Starts reading standard input on a thread of its own. End of input only stops reading.
  void Start();
  // Stops the reader (within a fraction of a second).
  void Stop();

  // Carries out one line, as if typed.
  void HandleLine(std::string_view utf8Line);

 private:
  void ReadLoop();
  // The MAC that row had in the last /users listing (empty before the first listing);
  // false when that listing had no such row.
  bool ListedMac(int row, std::string* mac);

  EngineCommands& engine_;
  std::FILE* out_;
  std::function<void()> requestExit_;
  std::thread reader_;
  std::atomic<bool> stop_{false};
  // Written on the engine thread by the /users listing, read by the reader thread.
  std::mutex listingMutex_;
  std::vector<std::string> listing_;
  bool haveListing_ = false;
};

}  // namespace orv
