#include "console/console_output.h"

#include <limits>

#include "console/escape.h"

namespace orv {

namespace {

// The console view breaks lines only at CR LF, so that is what adds a line; a lone CR or LF
// stays inside its line.
int CountLineBreaks(const std::string& text) {
  int count = 0;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '\r' && text[i + 1] == '\n') {
      ++count;
      ++i;
    }
  }
  return count;
}

}  // namespace

Console::Console(const ConsoleSwitches& switches, const LogWriter& log, const Clock& clock,
                 ConsoleSink& sink)
    : switches_(switches), log_(log), clock_(clock), sink_(sink) {}

void Console::PrintText(const std::string& text, bool stamp, bool log) {
  DebugTrace("::: print text proccess");

  // Very short texts (blank lines, stray words) are kept out of the log. The log copy carries
  // its own stamp whatever the console shows.
  if (switches_.ServerAllowLog && text.size() > 5 && log) log_.AppendLog(text, true);

  if (lineCount_ > switches_.MaxLineMessage) {
    sink_.ConsoleCleared();
    lineCount_ = 1;
  }

  std::string line;
  if (stamp) line = FormatLocalTime(clock_, "[%H:%M:%S] ");
  line += text;
  sink_.ConsoleLineAppended(line);

  // The text itself may hold line breaks; the CR LF that ends it adds one more.
  const int added = CountLineBreaks(line) + 1;
  if (lineCount_ > std::numeric_limits<int>::max() - added) {
    lineCount_ = std::numeric_limits<int>::max();
  } else {
    lineCount_ += added;
  }

  DebugTrace("::: print text proccess OK");
}

void Console::DebugTrace(std::string_view text) {
  // Trace lines cost nothing while DebugLog is off: the text is made only to be written.
  // Trace lines name users and addresses as clients gave them: no client may start a log
  // line of its own.
  if (switches_.DebugLog) log_.AppendLog(EscapeControlCharacters(text), true);
}

}  // namespace orv
