#include <gtest/gtest.h>

#include <string>

#include "files/profile_file.h"
#include "moderation/afs_list.h"
#include "moderation/block_list.h"
#include "support/temp_folder.h"

namespace orv {
namespace {

using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

TEST(BlockList, ChecksIpThenMacThenName) {
  TempFolder dir;
  BlockList list(dir.Path());
  EXPECT_EQ(list.CheckBlockList("10.0.0.2", "ann", "001A"),
            BlockState::kNone);  // no folder, no file

  WriteFile(dir / "data/blocklist.cfg",
            "[LIST]\r\n10.0.0.2=1\r\n001A=yes\r\nAnn=1\r\nemptied=\r\n[OTHER]\r\nbob=1\r\n");
  EXPECT_EQ(list.CheckBlockList("10.0.0.2", "ann", "001A"), BlockState::kIp);
  EXPECT_EQ(list.CheckBlockList("10.0.0.3", "ann", "001A"), BlockState::kMac);
  EXPECT_EQ(list.CheckBlockList("10.0.0.3", "ANN", "001B"), BlockState::kName);
  EXPECT_EQ(list.CheckBlockList("10.0.0.3", "emptied", "001B"), BlockState::kNone);
  EXPECT_EQ(list.CheckBlockList("10.0.0.3", "bob", "001B"), BlockState::kNone);
  EXPECT_EQ(list.CheckBlockList("", "", ""), BlockState::kNone);
}

TEST(BlockList, WritesAndClearsEntries) {
  TempFolder dir;
  BlockList list(dir.Path());
  EXPECT_FALSE(list.WriteBlockEntry("ann"));  // the folder is never created
  EXPECT_FALSE(std::filesystem::exists(dir / "data"));

  std::filesystem::create_directory(dir / "data");
  ASSERT_TRUE(list.WriteBlockEntry("ann"));
  EXPECT_EQ(list.CheckBlockList("1.2.3.4", "Ann", "m"), BlockState::kName);
  ASSERT_TRUE(list.ClearBlockEntry("ann"));
  EXPECT_EQ(list.CheckBlockList("1.2.3.4", "Ann", "m"), BlockState::kNone);
  EXPECT_EQ(ReadFile(list.Path()), "[LIST]\r\nann=\r\n");

  // A name made to smuggle an entry in is refused and blocks nobody else.
  EXPECT_FALSE(list.WriteBlockEntry("x\r\n10.0.0.9=1"));
  EXPECT_EQ(list.CheckBlockList("10.0.0.9", "y", "m"), BlockState::kNone);
}

TEST(AfsList, ReadsLeadingDigitsOrTheDefault) {
  TempFolder dir;
  AfsList afs(dir.Path());
  EXPECT_EQ(afs.ReadAfsValue("m", 15), 15);

  WriteFile(dir / "data/afs.cfg",
            "[LIST]\n"
            "five=5\nzero=0\nword=abc\nmixed=12abc\nempty=\nminus=-5\nblank= \n"
            "wrapneg=4294967295\nwrapmin=2147483648\nwrapzero=4294967296\nlong=99999999999\n");
  EXPECT_EQ(afs.ReadAfsValue("five", 15), 5);
  EXPECT_EQ(afs.ReadAfsValue("FIVE", 15), 5);
  EXPECT_EQ(afs.ReadAfsValue("zero", 15), 0);
  EXPECT_EQ(afs.ReadAfsValue("word", 15), 0);
  EXPECT_EQ(afs.ReadAfsValue("mixed", 15), 12);
  EXPECT_EQ(afs.ReadAfsValue("empty", 15), 15);
  EXPECT_EQ(afs.ReadAfsValue("minus", 15), 0);
  EXPECT_EQ(afs.ReadAfsValue("blank", 15), 15);
  EXPECT_EQ(afs.ReadAfsValue("wrapneg", 15), 15);
  EXPECT_EQ(afs.ReadAfsValue("wrapmin", 15), 15);
  EXPECT_EQ(afs.ReadAfsValue("wrapzero", 15), 0);
  EXPECT_EQ(afs.ReadAfsValue("long", 15), 1215752191);  // 99999999999 mod 2^32
  EXPECT_EQ(afs.ReadAfsValue("missing", 7), 7);
}

TEST(AfsList, WrittenValuesReadBackAtOnce) {
  TempFolder dir;
  std::filesystem::create_directory(dir / "data");
  AfsList afs(dir.Path());
  ASSERT_TRUE(afs.WriteAfsValue("00:1A", 5));
  EXPECT_EQ(afs.ReadAfsValue("00:1A", 15), 5);
  // Same file size, written within the same file-time tick.
  ASSERT_TRUE(afs.WriteAfsValue("00:1A", 7));
  EXPECT_EQ(afs.ReadAfsValue("00:1A", 15), 7);
  ASSERT_TRUE(afs.WriteAfsValue("00:1A", 0));
  EXPECT_EQ(afs.ReadAfsValue("00:1A", 15), 0);
  ASSERT_TRUE(afs.WriteAfsValue("00:1B", -3));
  EXPECT_EQ(ReadFile(afs.Path()), "[LIST]\r\n00:1A=0\r\n00:1B=-3\r\n");
  EXPECT_EQ(afs.ReadAfsValue("00:1B", 15), 0);
}

}  // namespace
}  // namespace orv
