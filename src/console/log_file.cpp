#include "console/log_file.h"

#include <chrono>
#include <fstream>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

namespace orv {

namespace {

constexpr const char* kLogFolder = "logs";
constexpr const char* kLogNamePattern = "%m-%d-%Y.log";
constexpr const char* kStampPattern = "[%H:%M:%S] ";

// The date a day log's name gives ("03-05-2024.log"); nothing for any other name.
std::optional<std::chrono::sys_days> DayOfLogName(const std::string& name) {
  if (name.size() != 14 || name[2] != '-' || name[5] != '-' || name.substr(10) != ".log") {
    return std::nullopt;
  }
  auto number = [&name](std::size_t from, std::size_t count) {
    int value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
      if (name[i] < '0' || name[i] > '9') return -1;
      value = value * 10 + (name[i] - '0');
    }
    return value;
  };
  const int month = number(0, 2);
  const int day = number(3, 2);
  const int year = number(6, 4);
  if (month < 0 || day < 0 || year < 0) return std::nullopt;
  const std::chrono::year_month_day date{std::chrono::year(year),
                                         std::chrono::month(static_cast<unsigned>(month)),
                                         std::chrono::day(static_cast<unsigned>(day))};
  if (!date.ok()) return std::nullopt;
  return std::chrono::sys_days(date);
}

}  // namespace

int LogWriter::PruneOldLogs(int keepDays) const {
  if (keepDays <= 0) return 0;
  const std::optional<std::tm> now = clock_.LocalTime();
  if (!now) return 0;
  const std::chrono::year_month_day today{
      std::chrono::year(now->tm_year + 1900),
      std::chrono::month(static_cast<unsigned>(now->tm_mon + 1)),
      std::chrono::day(static_cast<unsigned>(now->tm_mday))};
  if (!today.ok()) return 0;
  const std::chrono::sys_days oldestKept =
      std::chrono::sys_days(today) - std::chrono::days(keepDays - 1);

  std::vector<std::filesystem::path> old;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(workDir_ / kLogFolder, ec), end; !ec && it != end;
       it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    const auto day = DayOfLogName(it->path().filename().string());
    if (day && *day < oldestKept) old.push_back(it->path());
  }
  int removed = 0;
  for (const auto& path : old) {
    if (std::filesystem::remove(path, ec)) ++removed;
  }
  return removed;
}

LogWriter::LogWriter(std::filesystem::path workDir, const Clock& clock)
    : workDir_(std::move(workDir)), clock_(clock) {}

std::filesystem::path LogWriter::CurrentLogPath() const {
  return workDir_ / kLogFolder / FormatLocalTime(clock_, kLogNamePattern);
}

void LogWriter::AppendLog(const std::string& text, bool stamp) const {
  if (text.empty()) return;

  // One reading of the clock names the file and stamps the line, so a line written at
  // midnight never lands in one day's file with the other day's time.
  const std::optional<std::tm> now = clock_.LocalTime();
  if (!now) return;
  const std::string fileName = FormatTime(*now, kLogNamePattern);
  if (fileName.empty()) return;

  const std::filesystem::path folder = workDir_ / kLogFolder;
  std::error_code ignored;
  std::filesystem::create_directory(folder, ignored);

  std::string line;
  if (stamp) line = FormatTime(*now, kStampPattern);
  line += text;
  line += "\r\n";

  if (!fullLog_.empty() && fullLog_ != fileName) FinishDay();  // a new day began
  if (fullLog_ == fileName) {
    ++heldBack_;
    return;
  }
  const std::filesystem::path path = folder / fileName;
  if (dayLimit_ > 0) {
    // One client must not be able to fill the disk through the log: the day's log stops
    // at the limit, with one line that says so.
    std::error_code sizeError;
    const auto size = std::filesystem::file_size(path, sizeError);
    if (!sizeError &&
        static_cast<std::int64_t>(size) + static_cast<std::int64_t>(line.size()) > dayLimit_) {
      fullLog_ = fileName;
      heldBack_ = 1;
      Write(path, FormatTime(*now, kStampPattern) + "This log has reached " +
                      std::to_string(dayLimit_) +
                      " bytes (LogDayLimit): no more lines are written to it today; the "
                      "console still shows them\r\n");
      return;
    }
  }
  Write(path, line);
}

void LogWriter::Write(const std::filesystem::path& path, const std::string& line) const {
  // Opened and closed for every line so that the operator may move or delete the file
  // while the server runs. A line that cannot be written is lost; the server carries on.
  std::ofstream file(path, std::ios::binary | std::ios::app);
  if (!file) return;
  file.write(line.data(), static_cast<std::streamsize>(line.size()));
}

void LogWriter::SetDayLimit(std::int64_t bytes) {
  if (bytes == dayLimit_) return;
  // A day held back under the old limit says how much before lines are weighed anew.
  FinishDay();
  dayLimit_ = bytes;
}

void LogWriter::FinishDay() const {
  if (fullLog_.empty()) return;
  const std::optional<std::tm> now = clock_.LocalTime();
  Write(workDir_ / kLogFolder / fullLog_, (now ? FormatTime(*now, kStampPattern) : std::string()) +
                                              std::to_string(heldBack_) +
                                              (heldBack_ == 1 ? " line was" : " lines were") +
                                              " not written to this log (LogDayLimit)\r\n");
  fullLog_.clear();
  heldBack_ = 0;
}

}  // namespace orv
