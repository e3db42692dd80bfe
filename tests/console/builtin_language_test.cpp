// The built-in English texts, the shipped language files and the day logs' upkeep.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "console/builtin_language.h"
#include "console/code_page.h"
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

// The conversions of a text in order: "%d", "%s", "%%" ...
std::string Conversions(const std::string& text) {
  std::string found;
  for (std::size_t at = text.find('%'); at != std::string::npos && at + 1 < text.size();
       at = text.find('%', at + 2)) {
    found += text.substr(at, 2);
  }
  return found;
}

// Whether every byte from 0x80 up belongs to a well-formed UTF-8 sequence.
bool IsUtf8(const std::string& bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = c < 0x80           ? 1
                               : (c >> 5) == 0x6  ? 2
                               : (c >> 4) == 0xE  ? 3
                               : (c >> 3) == 0x1E ? 4
                                                  : 0;
    if (length == 0 || i + length > bytes.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

TEST(ShippedLanguages, EveryFileHasEveryTextWholeWithTheEnglishConversions) {
  const std::filesystem::path workDir = std::filesystem::path(ORV_SOURCE_DIR) / "workdir";
  TempFolder logs;
  FixedClock clock(MakeTime(2026, 3, 2));
  LogWriter log(logs.Path(), clock);
  LanguageTable english;
  ASSERT_TRUE(english.LoadLanguage("english", workDir, log));

  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(workDir / "language")) {
    std::smatch match;
    const std::string file = entry.path().filename().string();
    if (!std::regex_match(file, match, std::regex("lang_(.+)\\.cfg"))) continue;
    const std::string name = match[1];
    names.insert(name);
    LanguageTable table;
    ASSERT_TRUE(table.LoadLanguage(name, workDir, log)) << file;
    // Each text as written, to tell a text the reader cut from a whole one.
    std::map<std::string, std::string> written;
    std::istringstream lines(*ReadFileBytes(entry.path()));
    for (std::string line; std::getline(lines, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (const auto equals = line.find('='); equals != std::string::npos) {
        written[line.substr(0, equals)] = line.substr(equals + 1);
      }
    }
    for (int i = 0; i < kStringCount; ++i) {
      const std::string key = "STR" + std::to_string(i);
      ASSERT_TRUE(written.count(key)) << file << " lacks " << key;
      EXPECT_EQ(table.GetString(i), written[key]) << file << " " << key << " is cut short";
      // A conversion the program does not fill in would show as written, or leave out the
      // name or number the line is about.
      EXPECT_EQ(Conversions(table.GetString(i)), Conversions(english.GetString(i)))
          << file << " " << key;
    }
    // Files are in the server's code page: Windows-1251, not UTF-8.
    const std::string bytes = *ReadFileBytes(entry.path());
    const bool ascii = std::all_of(bytes.begin(), bytes.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii) {
      EXPECT_FALSE(IsUtf8(bytes)) << file << " is UTF-8, not Windows-1251";
    }
  }
  EXPECT_TRUE(names.count("english") && names.count("russian"));

  LanguageTable russian;
  ASSERT_TRUE(russian.LoadLanguage("russian", workDir, log));
  EXPECT_EQ(Cp1251ToUtf8(russian.GetString(5)), "Сервер запущен");
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
