#include "files/profile_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace orv {
namespace {

using testing::FolderEntries;
using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

TEST(ProfileData, LookupRules) {
  const ProfileData data(
      "orphan=1\r\n"
      "  [ List ]  \r\n"
      "  Alpha  =  one two  \r\n"
      "alpha=second\r\n"
      "; comment=x\r\n"
      "bare\r\n"
      "quoted=\" kept \"\r\n"
      "\xC8\xE2\xE0\xED=cyr\r\n"
      "\xA8lka=yo\r\n"
      "[other]\r\n"
      "beta=2\r\n"
      "[LIST]\r\n"
      "gamma=3");
  EXPECT_EQ(data.Get("list", "ALPHA"), "one two");  // trimmed; first match wins
  EXPECT_EQ(data.Get(" LIST ", " alpha "), "one two");
  EXPECT_EQ(data.Get("LIST", "gamma"), "3");  // a later section of the same name
  EXPECT_EQ(data.Get("LIST", "beta"), "");
  EXPECT_EQ(data.Get("other", "beta"), "2");
  EXPECT_EQ(data.Get("LIST", "orphan"), "");
  EXPECT_EQ(data.Get("", "orphan"), "");
  EXPECT_EQ(data.Get("LIST", "; comment"), "");
  EXPECT_EQ(data.Get("LIST", "bare"), "");
  EXPECT_EQ(data.Get("LIST", "quoted"), " kept ");
  EXPECT_EQ(data.Get("list", "\xE8\xC2\xC0\xED"), "cyr");
  EXPECT_EQ(data.Get("list", "\xB8LKA"), "yo");
  EXPECT_EQ(data.Get("list", ""), "");

  EXPECT_TRUE(data.HasNonEmpty("LIST", "alpha"));
  EXPECT_FALSE(data.HasNonEmpty("LIST", "bare"));
  EXPECT_FALSE(data.HasNonEmpty("LIST", "missing"));

  EXPECT_TRUE(EqualsIgnoringCase("\xC0\xDF\xA8Zz", "\xE0\xFF\xB8zZ"));
  EXPECT_FALSE(EqualsIgnoringCase("\xC0", "\xC1"));
  EXPECT_FALSE(EqualsIgnoringCase("ab", "abc"));
}

TEST(ReadProfileValue, FilesAndLongValues) {
  TempFolder dir;
  const auto file = dir / "lang.cfg";
  EXPECT_EQ(ReadProfileValue("STRINGS", "STR0", file), "");

  const std::string longValue(150, 'v');
  WriteFile(file, "[STRINGS]\nSTR0=" + longValue + "\nSTR1=short");  // LF, no final line end
  EXPECT_EQ(ReadProfileValue("STRINGS", "STR0", file), longValue.substr(0, kProfileValueLimit));
  EXPECT_EQ(ReadProfileValue("strings", "str1", file), "short");

  std::string binary;
  for (int i = 0; i < 256; ++i)
    binary += static_cast<char>(i);
  WriteFile(file, binary + "\n[S]\nk=a" + std::string(1, '\0') + "b\n" + binary);
  EXPECT_EQ(ReadProfileValue("S", "k", file), "a");
}

TEST(WriteProfileValue, KeepsTheRestOfTheFile) {
  TempFolder dir;
  const auto file = dir / "list.cfg";
  WriteFile(file,
            "; kept\r\n"
            "[A]\r\n"
            "x=1\r\n"
            "[list]\r\n"
            "Bob=1\r\n"
            "carol=1\r\n"
            "\r\n"
            "[C]\r\n"
            "c=3\r\n");

  ASSERT_TRUE(WriteProfileValue("LIST", "bob", "", file));    // stored spelling stays
  ASSERT_TRUE(WriteProfileValue("LIST", "dave", "1", file));  // end of its section
  ASSERT_TRUE(WriteProfileValue("NEW", "k", "v w", file));    // new section at the end
  ASSERT_TRUE(WriteProfileValue("c", "c", "4", file));
  EXPECT_EQ(ReadFile(file),
            "; kept\r\n"
            "[A]\r\n"
            "x=1\r\n"
            "[list]\r\n"
            "Bob=\r\n"
            "carol=1\r\n"
            "dave=1\r\n"
            "\r\n"
            "[C]\r\n"
            "c=4\r\n"
            "[NEW]\r\n"
            "k=v w\r\n");
  EXPECT_EQ(ReadProfileValue("new", "K", file), "v w");
  EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"list.cfg"});

  // LF files stay LF; a last line without line end gets one before new lines.
  WriteFile(file, "[LIST]\nkey=1");
  ASSERT_TRUE(WriteProfileValue("LIST", "other", "2", file));
  EXPECT_EQ(ReadFile(file), "[LIST]\nkey=1\nother=2\n");

  // New files are created (CR LF), but never their folder.
  const auto fresh = dir / "fresh.cfg";
  ASSERT_TRUE(WriteProfileValue("LIST", "00:1A", "5", fresh));
  EXPECT_EQ(ReadFile(fresh), "[LIST]\r\n00:1A=5\r\n");
  EXPECT_FALSE(WriteProfileValue("LIST", "k", "1", dir / "data" / "x.cfg"));
  EXPECT_FALSE(std::filesystem::exists(dir / "data"));
  EXPECT_EQ(FolderEntries(dir.Path()), (std::vector<std::string>{"fresh.cfg", "list.cfg"}));

  // A folder name outside any single code page (Windows opens such paths wide only).
  const std::filesystem::path folder =
      dir.Path() / std::filesystem::path(u8"\u0434\u0430\u043d\u043d\u044b\u0435 \u00e9");
  std::filesystem::create_directories(folder);
  ASSERT_TRUE(WriteProfileValue("LIST", "a", "1", folder / "afs.cfg"));
  ASSERT_TRUE(WriteProfileValue("LIST", "a", "2", folder / "afs.cfg"));
  EXPECT_EQ(ReadProfileValue("LIST", "a", folder / "afs.cfg"), "2");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(WriteProfileValue, RefusesWhatWouldNotStayOneEntry) {
  TempFolder dir;
  const auto file = dir / "blocklist.cfg";
  const std::string before = "[LIST]\r\nann=1\r\n";
  WriteFile(file, before);

  const std::vector<std::string> badKeys = {"eve\r\n[LIST]\r\nbob",
                                            "eve\nbob",
                                            "eve\rbob",
                                            std::string("eve\0bob", 7),
                                            "a=b",
                                            "[LIST]",
                                            " ;x",
                                            "",
                                            "   "};
  for (const auto& key : badKeys) {
    EXPECT_FALSE(WriteProfileValue("LIST", key, "1", file)) << key;
  }
  EXPECT_FALSE(WriteProfileValue("LIST", "eve", "1\r\nmallory=1", file));
  EXPECT_FALSE(WriteProfileValue("LIST", "eve", std::string("1\0", 2), file));
  EXPECT_FALSE(WriteProfileValue("LI\nST", "eve", "1", file));
  EXPECT_FALSE(WriteProfileValue("", "eve", "1", file));
  EXPECT_EQ(ReadFile(file), before);
  EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"blocklist.cfg"});

  // "=" in a value is fine: only the first one splits.
  ASSERT_TRUE(WriteProfileValue("LIST", "eve", "a=b", file));
  EXPECT_EQ(ReadProfileValue("LIST", "eve", file), "a=b");
}

TEST(CachedProfile, FollowsTheFileOnDisk) {
  TempFolder dir;
  const auto file = dir / "afs.cfg";
  CachedProfile profile(file);
  EXPECT_EQ(profile.Get("LIST", "m"), "");

  WriteFile(file, "[LIST]\nm=5\n");
  EXPECT_EQ(profile.Get("LIST", "m"), "5");
  WriteFile(file, "[LIST]\nm=25\n");
  EXPECT_EQ(profile.Get("LIST", "m"), "25");
  EXPECT_TRUE(profile.HasNonEmpty("list", "M"));

  // Same size within the same tick is only seen after Invalidate.
  WriteFile(file, "[LIST]\nm=30\n");
  profile.Invalidate();
  EXPECT_EQ(profile.Get("LIST", "m"), "30");

  std::filesystem::remove(file);
  EXPECT_EQ(profile.Get("LIST", "m"), "");
}

}  // namespace
}  // namespace orv
