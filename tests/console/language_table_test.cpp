#include "console/language_table.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "console/console_test_support.h"
#include "console/safe_format.h"

namespace orv {
namespace {

using testing::ReadFile;
using testing::WriteFile;

class LanguageTableTest : public ::testing::Test {
 protected:
  std::string Log() const { return ReadFile(folder_.Path() / "logs" / "12-06-2026.log"); }

  // A language file with STR0 .. STR<count - 1>, each "text i" unless given.
  void WriteLanguage(const std::string& name, int count, const std::string& extra = {}) {
    std::string content = "[STRINGS]\r\n";
    for (int i = 0; i < count; ++i)
      content += "STR" + std::to_string(i) + "=text " + std::to_string(i) + "\r\n";
    content += extra;
    WriteFile(folder_.Path() / "language" / ("lang_" + name + ".cfg"), content);
  }

  testing::TempFolder folder_;
  testing::FixedClock clock_;
  LogWriter log_{folder_.Path(), clock_};
  LanguageTable table_;
};

TEST_F(LanguageTableTest, MissingKeysStandInAsTheirNamesAndAreLogged) {
  WriteLanguage("english", 40);
  ASSERT_TRUE(table_.LoadLanguage("english", folder_.Path(), log_));
  EXPECT_EQ(table_.Size(), 41);
  EXPECT_EQ(table_.GetString(0), "text 0");
  EXPECT_EQ(table_.GetString(39), "text 39");
  EXPECT_EQ(table_.GetString(40), "STR40");
  EXPECT_EQ(Log(), "[09:05:03] :::Missing string STR40 in language/lang_english.cfg\r\n");

  EXPECT_EQ(table_.GetString(-1), " ");
  EXPECT_EQ(table_.GetString(41), " ");

  // An empty value counts as missing; long values come back cut to 99 characters.
  WriteLanguage("long", 0, "STR1=\r\nSTR5=" + std::string(150, 'a') + "\n");
  ASSERT_TRUE(table_.LoadLanguage("long", folder_.Path(), log_));
  EXPECT_EQ(table_.GetString(1), "STR1");
  EXPECT_EQ(table_.GetString(5), std::string(99, 'a'));
}

TEST_F(LanguageTableTest, MissingFileLeavesAnEmptyTableAndNoLog) {
  WriteLanguage("english", 41);
  ASSERT_TRUE(table_.LoadLanguage("english", folder_.Path(), log_));

  EXPECT_FALSE(table_.LoadLanguage("german", folder_.Path(), log_));
  EXPECT_EQ(table_.Size(), 0);
  for (int n : {-1, 0, 22, 40, 41})
    EXPECT_EQ(table_.GetString(n), " ") << n;

  // A folder of the file's name is no language file either.
  std::filesystem::create_directories(folder_.Path() / "language" / "lang_folder.cfg");
  EXPECT_FALSE(table_.LoadLanguage("folder", folder_.Path(), log_));
  EXPECT_FALSE(std::filesystem::exists(folder_.Path() / "logs"));
}

// The shipped English file: every string present, and each format takes exactly the one
// argument its caller gives it.
TEST_F(LanguageTableTest, ShippedEnglishFileFitsItsCallers) {
  const auto workdir = std::filesystem::path(ORV_SOURCE_DIR) / "workdir";
  ASSERT_TRUE(table_.LoadLanguage("english", workdir, log_));
  EXPECT_EQ(Log(), "");

  const std::vector<int> intFormats = {15, 17, 23, 38};
  const std::vector<int> textFormats = {27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 39, 40};
  for (int n = 0; n < LanguageTable::kStringCount; ++n) {
    const std::string s = table_.GetString(n);
    EXPECT_FALSE(s.empty()) << n;
    EXPECT_NE(s, "STR" + std::to_string(n));
    const bool isInt = std::find(intFormats.begin(), intFormats.end(), n) != intFormats.end();
    const bool isText = std::find(textFormats.begin(), textFormats.end(), n) != textFormats.end();
    // A string that takes no argument must come out of either formatter unchanged, a format
    // must use its argument, and no conversion may be left behind.
    const std::string asInt = FormatWithInt(s, 4711);
    const std::string asText = FormatWithText(s, "<peer>");
    if (isInt) {
      EXPECT_NE(asInt.find("4711"), std::string::npos) << n;
      EXPECT_EQ(asInt.find('%'), std::string::npos) << n;
      EXPECT_EQ(asText, s) << n;
    } else if (isText) {
      EXPECT_NE(asText.find("<peer>"), std::string::npos) << n;
      EXPECT_EQ(asText.find('%'), std::string::npos) << n;
      EXPECT_EQ(asInt, s) << n;
    } else {
      EXPECT_EQ(s.find('%'), std::string::npos) << n;
    }
  }
}

}  // namespace
}  // namespace orv
