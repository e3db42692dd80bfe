#include "console/log_file.h"

#include <fstream>
#include <system_error>
#include <utility>

namespace orv {

namespace {

constexpr const char* kLogFolder = "logs";
constexpr const char* kLogNamePattern = "%m-%d-%Y.log";
constexpr const char* kStampPattern = "[%H:%M:%S] ";

}  // namespace

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

  // Opened and closed for every line so that the operator may move or delete the file
  // while the server runs. A line that cannot be written is lost; the server carries on.
  std::ofstream file(folder / fileName, std::ios::binary | std::ios::app);
  if (!file) return;
  file.write(line.data(), static_cast<std::streamsize>(line.size()));
}

}  // namespace orv
