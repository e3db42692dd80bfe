// The console model: every console line of the server goes through PrintText, which
// stamps, copies to the log and clears the view when it grows past MaxLineMessage lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "console/clock.h"
#include "console/log_file.h"

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

// The three settings the console obeys. They may change while the server starts (the
// settings file is read line by line), so the console reads them at every call.
struct ConsoleSwitches {
  bool DebugLog = false;              // trace lines go to the day's log
  bool ServerAllowLog = true;         // logged console lines go to the day's log
  std::int32_t MaxLineMessage = 300;  // the view is emptied when it holds more lines
};

class Console {
 public:
  Console(const ConsoleSwitches& switches, const LogWriter& log, const Clock& clock,
          ConsoleSink& sink);

  void PrintText(const std::string& text, bool stamp, bool log);
  // The three ways the server prints: an event (stamped, logged), a report line (banners,
  // separators, settings: unstamped, logged), and a stamped line for the screen only.
  void EventLine(const std::string& text) { PrintText(text, true, true); }
  void ReportLine(const std::string& text) { PrintText(text, false, true); }
  void ScreenLine(const std::string& text) { PrintText(text, true, false); }
  // Trace line: written, stamped, to the log only when DebugLog is on.
  void DebugTrace(std::string_view text);

  // Lines the console view holds now, counted as the view counts them (an empty view is
  // one line, and so is the empty line after the last line end).
  int LineCount() const { return lineCount_; }

 private:
  const ConsoleSwitches& switches_;
  const LogWriter& log_;
  const Clock& clock_;
  ConsoleSink& sink_;
  int lineCount_ = 1;
};

}  // namespace orv
