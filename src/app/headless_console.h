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
#include "server/operator_command.h"

namespace orv {

// What a command on a row of the /users listing does to the user in it.
enum class RowAction { kKick, kBlock, kUnblock, kSetAfs };

// One line typed by the operator, read.
struct ConsoleCommand {
  enum class Kind {
    kNothing,
    kEngine,  // command, as it stands
    kRow,     // action on the user in row
    kExit,
    kHelp,
    kError
  };
  Kind kind = Kind::kNothing;
  OperatorCommand command;  // kEngine (texts in the code page)
  std::string text;         // kError: what is wrong (UTF-8)
  RowAction action = RowAction::kKick;
  BlockState by = BlockState::kIp;  // RowAction::kBlock
  int row = 0;
  int afsValue = 0;
};

// utf8Line without its line end.
ConsoleCommand ParseConsoleLine(std::string_view utf8Line);
// The operator command a row command is for the user with mac.
OperatorCommand CommandForUser(const ConsoleCommand& rowCommand, std::string mac);

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
  // The MAC that row had in the last /users listing; false when there was no listing, or
  // it had no such row (*listed tells which).
  bool ListedMac(int row, std::string* mac, bool* listed);
  void RunRowCommand(const ConsoleCommand& command);
  // Writes what a refused command said (a command carried out said it on the console).
  void ShowRefusal(const Outcome& outcome);

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
