// Fakes shared by the console tests: a clock that stands still and a console view that
// records what it is asked to show.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "console/clock.h"
#include "console/console_output.h"
#include "support/temp_folder.h"

namespace orv::testing {

// 6 December 2026, 09:05:03.
inline std::tm MakeTime(int year = 2026, int month = 12, int day = 6, int hour = 9, int minute = 5,
                        int second = 3) {
  std::tm time{};
  time.tm_year = year - 1900;
  time.tm_mon = month - 1;
  time.tm_mday = day;
  time.tm_hour = hour;
  time.tm_min = minute;
  time.tm_sec = second;
  return time;
}

class FixedClock final : public Clock {
 public:
  std::optional<std::tm> LocalTime() const override { return now; }
  std::optional<std::tm> now = MakeTime();
};

class FakeSink final : public ConsoleSink {
 public:
  void ConsoleLineAppended(const std::string& line) override { shown.push_back(line); }
  void ConsoleCleared() override {
    shown.clear();
    ++clears;
  }
  std::vector<std::string> shown;  // what the view holds since it was last cleared
  int clears = 0;
};

}  // namespace orv::testing
