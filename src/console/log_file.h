// The day's log file: logs/ + "%m-%d-%Y.log" under the working folder, one open, append
// and close for every line, CR LF line ends.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "console/clock.h"

namespace orv {

class LogWriter {
 public:
  LogWriter(std::filesystem::path workDir, const Clock& clock);

  // Appends text (stamped "[%H:%M:%S] " when asked) and CR LF to the day's log; creates
  // logs/ when missing. An empty text writes nothing; a file that cannot be opened or
  // written loses the line silently. Once the day's log holds the day limit, one line says
  // so and later lines of the day are counted instead of written.
  void AppendLog(const std::string& text, bool stamp) const;

  // Bytes one day's log may grow to (0: no limit).
  void SetDayLimit(std::int64_t bytes);
  // Writes the count of the lines the day limit held back into the day's log they belong
  // to (at a stop; a new day does it by itself).
  void FinishDay() const;

  // Removes the day logs (logs/MM-DD-YYYY.log) from before the last keepDays days, today
  // counted as one; other files are left alone. keepDays of 0 or less keeps everything.
  // Returns how many files were removed.
  int PruneOldLogs(int keepDays) const;

  // Path of the day's log file right now (empty file name when the date is unknown).
  std::filesystem::path CurrentLogPath() const;

 private:
  // Appends line to the file as it is, without looking at the limit.
  void Write(const std::filesystem::path& file, const std::string& line) const;

  std::filesystem::path workDir_;
  const Clock& clock_;
  std::int64_t dayLimit_ = 0;
  // The day's log that reached the limit, and the lines not written to it since.
  mutable std::string fullLog_;
  mutable std::uint64_t heldBack_ = 0;
};

}  // namespace orv
