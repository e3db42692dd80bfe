// The console model: every console line of the server goes through PrintText, which
// stamps, copies to the log and clears the view when it grows past MaxLineMessage lines.
#pragma once

#include <string>
#include <string_view>

#include "console/clock.h"
#include "console/log_file.h"
#include "moderation/settings.h"

namespace orv {

// Where console lines are shown (the window's console view, stdout, a test fake).
// Texts are bytes in the system code page.
class ConsoleSink {
 public:
  virtual ~ConsoleSink() = default;
  // One line, already stamped when stamping was asked for, without its line end.
  virtual void ConsoleLineAppended(const std::string& line) = 0;
  // The whole console content was dropped.
  virtual void ConsoleCleared() = 0;
};

class Console {
 public:
  // settings is read at every call (ServerAllowLog, DebugLog, MaxLineMessage).
  Console(const Settings& settings, const LogWriter& log, const Clock& clock, ConsoleSink& sink);

  void PrintText(const std::string& text, bool stamp, bool log);
  // Trace line: written, stamped, to the log only when DebugLog is on.
  void DebugTrace(std::string_view text);

  // Lines the console view holds now, counted as the view counts them (an empty view is
  // one line, and so is the empty line after the last line end).
  int LineCount() const { return lineCount_; }

 private:
  const Settings& settings_;
  const LogWriter& log_;
  const Clock& clock_;
  ConsoleSink& sink_;
  int lineCount_ = 1;
};

}  // namespace orv
