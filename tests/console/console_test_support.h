// Fakes shared by the console tests: a clock that stands still, a console view that records
// what it is asked to show, and a working folder of its own for every test.
#pragma once

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "console/clock.h"
#include "console/console_output.h"

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

// A fresh folder under the system's temporary folder, removed again at the end of the test.
class TempFolder {
 public:
  TempFolder() {
    static std::atomic<int> counter{0};
    // CTest runs tests side by side in separate processes, hence the random part.
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("orv_console_" + std::to_string(std::random_device{}()) + "_" + std::to_string(stamp) +
             "_" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Whole file as bytes; the empty text when it does not exist.
inline std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace orv::testing
