// The built-in English texts and the day logs' upkeep.
#include <gtest/gtest.h>

#include "console/builtin_language.h"
#include "console/console_test_support.h"
#include "console/language_table.h"
#include "console/log_file.h"
#include "files/profile_file.h"

namespace orv {
namespace {

using testing::FixedClock;
using testing::MakeTime;
using testing::TempFolder;
using testing::WriteFile;

TEST(BuiltInEnglish, IsTheShippedEnglishLanguageFile) {
  // The texts a server shows without its language file are the ones it shows with it.
  const auto content =
      ReadFileBytes(std::filesystem::path(ORV_SOURCE_DIR) / "workdir/language/lang_english.cfg");
  ASSERT_TRUE(content);
  const ProfileData file(*content);
  LanguageTable table;
  table.LoadBuiltIn();
  ASSERT_EQ(table.Size(), kStringCount);
  for (int i = 0; i < kStringCount; ++i) {
    EXPECT_EQ(table.GetString(i), file.Get("STRINGS", "STR" + std::to_string(i))) << "STR" << i;
  }
}

TEST(PruneOldLogs, RemovesOnlyDayLogsOlderThanTheDaysKept) {
  TempFolder dir;
  FixedClock clock(MakeTime(2026, 3, 2));
  LogWriter log(dir.Path(), clock);
  // Days around a month end and a year end; today is 2 March 2026.
  for (const char* name : {"03-02-2026.log", "03-01-2026.log", "02-28-2026.log", "02-27-2026.log",
                           "12-31-2025.log", "notes.txt", "13-01-2026.log", "02-30-2026.log"}) {
    WriteFile(dir / (std::string("logs/") + name), "x");
  }
  EXPECT_EQ(log.PruneOldLogs(0), 0);
  EXPECT_EQ(log.PruneOldLogs(-1), 0);
  // Three days: today, 1 March and 28 February.
  EXPECT_EQ(log.PruneOldLogs(3), 2);
  for (const char* kept : {"03-02-2026.log", "03-01-2026.log", "02-28-2026.log", "notes.txt",
                           "13-01-2026.log", "02-30-2026.log"}) {
    EXPECT_TRUE(std::filesystem::exists(dir / (std::string("logs/") + kept))) << kept;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "logs/02-27-2026.log"));
  EXPECT_FALSE(std::filesystem::exists(dir / "logs/12-31-2025.log"));
  // One day keeps today's only.
  EXPECT_EQ(log.PruneOldLogs(1), 2);
  EXPECT_TRUE(std::filesystem::exists(dir / "logs/03-02-2026.log"));

  // No logs/ folder is nothing to do.
  TempFolder empty;
  EXPECT_EQ(LogWriter(empty.Path(), clock).PruneOldLogs(1), 0);
}

}  // namespace
}  // namespace orv
