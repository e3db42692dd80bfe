// The day's log file: logs/ + "%m-%d-%Y.log" under the working folder, one open, append
// and close for every line, CR LF line ends.
#pragma once

#include <filesystem>
#include <string>

#include "console/clock.h"

namespace orv {

class LogWriter {
 public:
  LogWriter(std::filesystem::path workDir, const Clock& clock);

  // Appends text (stamped "[%H:%M:%S] " when asked) and CR LF to the day's log; creates
  // logs/ when missing. An empty text writes nothing; a file that cannot be opened or
  // written loses the line silently.
  void AppendLog(const std::string& text, bool stamp) const;

  // Removes the day logs (logs/MM-DD-YYYY.log) from before the last keepDays days, today
  // counted as one; other files are left alone. keepDays of 0 or less keeps everything.
  // Returns how many files were removed.
  int PruneOldLogs(int keepDays) const;

  // Path of the day's log file right now (empty file name when the date is unknown).
  std::filesystem::path CurrentLogPath() const;

 private:
  std::filesystem::path workDir_;
  const Clock& clock_;
};

}  // namespace orv
