#include "console/log_file.h"

#include <gtest/gtest.h>

#include "console/clock.h"
#include "console/console_test_support.h"

namespace orv {
namespace {

using testing::FixedClock;
using testing::MakeTime;
using testing::ReadFile;
using testing::TempFolder;

TEST(FormatLocalTime, EmptyWhenTimeUnknownOrTooLong) {
  FixedClock clock;
  EXPECT_EQ(FormatLocalTime(clock, "[%H:%M:%S] "), "[09:05:03] ");
  EXPECT_EQ(FormatLocalTime(clock, "%m-%d-%Y.log"), "12-06-2026.log");

  // 130 bytes of output do not fit into 128: nothing, rather than a cut stamp.
  EXPECT_EQ(FormatLocalTime(clock, std::string(130, 'x').c_str()), "");
  EXPECT_EQ(FormatLocalTime(clock, std::string(127, 'x').c_str()), std::string(127, 'x'));

  clock.now.reset();
  EXPECT_EQ(FormatLocalTime(clock, "[%H:%M:%S] "), "");

  SystemClock system;
  EXPECT_EQ(FormatLocalTime(system, "%Y").size(), 4u);
}

TEST(LogWriter, AppendsCrLfLinesToTheDayFile) {
  TempFolder folder;
  FixedClock clock;
  LogWriter log(folder.Path(), clock);
  const auto dayFile = folder.Path() / "logs" / "12-06-2026.log";
  EXPECT_EQ(log.CurrentLogPath(), dayFile);

  // Nothing to write: not even the folder appears.
  log.AppendLog("", true);
  EXPECT_FALSE(std::filesystem::exists(folder.Path() / "logs"));

  log.AppendLog("first", true);
  log.AppendLog("second", false);
  // Bytes go out as they are: code-page letters, a NUL, a lone LF.
  log.AppendLog(std::string("\xC0\xE1\0z\n", 5), false);
  EXPECT_EQ(ReadFile(dayFile), std::string("[09:05:03] first\r\nsecond\r\n\xC0\xE1\0z\n\r\n", 33));

  // Just after midnight the line goes to the next day's file.
  clock.now = MakeTime(2027, 1, 1, 0, 0, 1);
  log.AppendLog("new year", true);
  EXPECT_EQ(ReadFile(folder.Path() / "logs" / "01-01-2027.log"), "[00:00:01] new year\r\n");
  EXPECT_EQ(ReadFile(dayFile).size(), 33u);
}

TEST(LogWriter, LosesTheLineQuietlyWhenItCannotWrite) {
  TempFolder folder;
  FixedClock clock;
  LogWriter log(folder.Path(), clock);

  // A plain file where the folder should be: the folder cannot be made, nor the file opened.
  testing::WriteFile(folder.Path() / "logs", "not a folder");
  log.AppendLog("lost line", true);
  EXPECT_EQ(ReadFile(folder.Path() / "logs"), "not a folder");

  // Unknown time: no file name, so no write at all.
  TempFolder other;
  clock.now.reset();
  LogWriter unknown(other.Path(), clock);
  EXPECT_EQ(unknown.CurrentLogPath().filename(), "");
  unknown.AppendLog("lost too", true);
  EXPECT_FALSE(std::filesystem::exists(other.Path() / "logs"));

  // A working folder that does not exist.
  FixedClock known;
  LogWriter missing(folder.Path() / "no" / "such", known);
  missing.AppendLog("lost as well", false);
  EXPECT_FALSE(std::filesystem::exists(folder.Path() / "no"));
}

// A day's log stops growing at its limit: one line says so, the lines held back are counted
// into it when the day ends (or the server stops), and the next day starts afresh.
TEST(LogWriter, ADaysLogStopsAtItsLimitAndSaysHowManyLinesItMissed) {
  TempFolder folder;
  FixedClock clock;
  LogWriter log(folder.Path(), clock);
  log.SetDayLimit(100);
  const auto dayFile = folder.Path() / "logs" / "12-06-2026.log";
  for (int i = 0; i < 10; ++i)
    log.AppendLog("line number " + std::to_string(i), true);  // 32 bytes each
  std::string day = ReadFile(dayFile);
  EXPECT_EQ(day.find("line number 3"), std::string::npos);
  EXPECT_NE(day.find("line number 2"), std::string::npos);
  EXPECT_NE(day.find("has reached 100 bytes (LogDayLimit)"), std::string::npos) << day;
  const std::size_t full = day.size();
  log.AppendLog("one more", true);
  EXPECT_EQ(ReadFile(dayFile).size(), full);

  clock.now = MakeTime(2026, 12, 7, 0, 0, 1);
  log.AppendLog("next day", true);
  EXPECT_NE(ReadFile(dayFile).find("8 lines were not written to this log (LogDayLimit)"),
            std::string::npos)
      << ReadFile(dayFile);
  EXPECT_EQ(ReadFile(folder.Path() / "logs" / "12-07-2026.log"), "[00:00:01] next day\r\n");

  // A stop counts what the day missed so far; a limit of 0 writes everything.
  for (int i = 0; i < 5; ++i)
    log.AppendLog(std::string(40, 'x'), false);
  log.FinishDay();
  EXPECT_NE(ReadFile(folder.Path() / "logs" / "12-07-2026.log").find("4 lines were not written"),
            std::string::npos);
  log.SetDayLimit(0);
  log.AppendLog("unlimited again", false);
  EXPECT_NE(ReadFile(folder.Path() / "logs" / "12-07-2026.log").find("unlimited again"),
            std::string::npos);
}

}  // namespace
}  // namespace orv
