// Wall-clock access for time stamps and log file names, behind an interface so that tests
// can pin the time of day.
#pragma once

#include <ctime>
#include <optional>
#include <string>

namespace orv {

class Clock {
 public:
  virtual ~Clock() = default;
  // The current local time, or nothing when it cannot be determined.
  virtual std::optional<std::tm> LocalTime() const = 0;
};

// Reads the system's local time.
class SystemClock final : public Clock {
 public:
  std::optional<std::tm> LocalTime() const override;
};

// strftime-style formatting of the clock's local time into at most 127 bytes; the empty
// text when the time is unknown or the result does not fit.
std::string FormatLocalTime(const Clock& clock, const char* pattern);
// The same formatting for a time already read, so that several texts can share one reading.
std::string FormatTime(const std::tm& time, const char* pattern);

}  // namespace orv
