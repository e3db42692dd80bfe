#include "files/tagged_file.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_folder.h"

namespace orv {
namespace {

using testing::TempFolder;
using testing::WriteFile;

TEST(ReadTaggedValue, TagLinesMatchWholeAndWithLetterCase) {
  EXPECT_EQ(ReadTaggedValueFrom("<Name>\nAda\n</Name>\n", "Name"), "Ada");
  EXPECT_EQ(ReadTaggedValueFrom("<Name> \nAda\n</Name>\n", "Name"), "");
  EXPECT_EQ(ReadTaggedValueFrom(" <Name>\nAda\n</Name>\n", "Name"), "");
  EXPECT_EQ(ReadTaggedValueFrom("<name>\nAda\n</name>\n", "Name"), "");
  EXPECT_EQ(ReadTaggedValueFrom("<Name>\nAda\n</Name> \n", "Name"), "");
  // Lines outside blocks are comments; other keys do not disturb.
  EXPECT_EQ(ReadTaggedValueFrom("note\n<A>\nx\n</A>\n<Name>\nAda\n</Name>\n", "Name"), "Ada");
}

TEST(ReadTaggedValue, ValueLinesAreJoinedAndEmptyLinesBreak) {
  EXPECT_EQ(ReadTaggedValueFrom("<K>\n</K>\n", "K"), "");
  EXPECT_EQ(ReadTaggedValueFrom("<K>\nfirst\n\nsecond\n</K>\n", "K"), "first\nsecond");
  EXPECT_EQ(ReadTaggedValueFrom("<K>\nfirst\nsecond\n</K>\n", "K"), "firstsecond");
  EXPECT_EQ(ReadTaggedValueFrom("<K>\r\nfirst\r\n\r\nsecond\r\n</K>\r\n", "K"), "first\nsecond");
  EXPECT_EQ(ReadTaggedValueFrom("<K>\n  padded \n</K>", "K"), "  padded ");
  // Only CR LF is a line end; a CR elsewhere is part of the text.
  EXPECT_EQ(ReadTaggedValueFrom("<K>\na\rb\n</K>\n", "K"), "a\rb");
}

TEST(ReadTaggedValue, OnlyCompleteBlocksCount) {
  EXPECT_EQ(ReadTaggedValueFrom("</K>\n<K>\nlate\n</K>\n", "K"), "");
  EXPECT_EQ(ReadTaggedValueFrom("<K>\nnever closed\n", "K"), "");
  EXPECT_EQ(ReadTaggedValueFrom("<K>\na\n<K>\nb\n</K>\n", "K"), "ab");
  EXPECT_EQ(ReadTaggedValueFrom("<K>\none\n</K>\n<K>\ntwo\n</K>\n", "K"), "one");
  EXPECT_EQ(ReadTaggedValueFrom("", "K"), "");

  // The tag lines, numbered as the reader cuts the lines; a tag line with a blank is none.
  const std::vector<TagLine> tags = TagLines("note\r\n<K>\r\nv\n</K>\n<>\n</>\n<K> \n<L>");
  ASSERT_EQ(tags.size(), 3u);
  EXPECT_EQ(tags[0].key, "K");
  EXPECT_FALSE(tags[0].closing);
  EXPECT_EQ(tags[0].number, 2);
  EXPECT_EQ(tags[1].key, "K");
  EXPECT_TRUE(tags[1].closing);
  EXPECT_EQ(tags[1].number, 4);
  EXPECT_EQ(tags[2].key, "L");
  EXPECT_EQ(tags[2].number, 8);
}

TEST(ReadTaggedValue, FilesThatCannotBeReadAndOddContent) {
  TempFolder dir;
  EXPECT_EQ(ReadTaggedValue(dir / "missing.cfg", "K"), kReadFalse);
  EXPECT_EQ(ReadTaggedValue(dir.Path(), "K"), kReadFalse);

  const auto file = dir / "a.cfg";
  WriteFile(file, "<K>\r\nvalue\r\n</K>");
  EXPECT_EQ(ReadTaggedValue(file, "K"), "value");

  const std::string huge(10 * 1024 * 1024, 'x');
  WriteFile(file, "<K>\n" + huge + "\n</K>\n");
  EXPECT_EQ(ReadTaggedValue(file, "K"), huge);

  std::string binary;
  for (int i = 0; i < 256; ++i)
    binary += static_cast<char>(i);
  WriteFile(file, binary + binary);
  EXPECT_EQ(ReadTaggedValue(file, "K"), "");
  WriteFile(file, std::string("<K>\nab\0cd\n</K>\n", 15));
  EXPECT_EQ(ReadTaggedValue(file, "K"), std::string("ab\0cd", 5));
}

TEST(TaggedFile, FollowsTheFileOnDisk) {
  TempFolder dir;
  const auto file = dir / "orvchatserver.cfg";
  TaggedFile tagged(file);
  EXPECT_EQ(tagged.Read("K"), kReadFalse);

  WriteFile(file, "<K>\nfirst\n</K>\n");
  EXPECT_EQ(tagged.Read("K"), "first");
  EXPECT_EQ(tagged.Read("Other"), "");

  // Different size, so the change shows even within one file-time tick.
  WriteFile(file, "<K>\nsecond value\n</K>\n");
  EXPECT_EQ(tagged.ReadRef("K"), "second value");

  std::filesystem::remove(file);
  EXPECT_EQ(tagged.Read("K"), kReadFalse);
}

}  // namespace
}  // namespace orv
