// A clock that stands still wherever a test puts it.
#pragma once

#include <ctime>
#include <optional>

#include "console/clock.h"

namespace orv::testing {

// 6 December 2026, 09:05:03 unless told otherwise.
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
  FixedClock() = default;
  explicit FixedClock(const std::tm& time) : now(time) {}
  std::optional<std::tm> LocalTime() const override { return now; }
  std::optional<std::tm> now = MakeTime();
};

}  // namespace orv::testing
