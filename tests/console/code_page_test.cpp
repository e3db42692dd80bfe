#include "console/code_page.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

// Expected bytes were produced with Python's cp1251 codec.
TEST(CodePage, ConvertsKnownTexts) {
  const std::string privetUtf8 = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xE2\x82\xAC";
  const std::string privetCp = "\xCF\xF0\xE8\xE2\xE5\xF2 \x88";
  EXPECT_EQ(Utf8ToCp1251(privetUtf8), privetCp);
  EXPECT_EQ(Cp1251ToUtf8(privetCp), privetUtf8);

  // Yo, yo, numero sign; low double quote, ellipsis, per mille, trade mark; Ghe with upturn.
  EXPECT_EQ(Utf8ToCp1251("\xD0\x81\xD1\x91\xE2\x84\x96"), "\xA8\xB8\xB9");
  EXPECT_EQ(Cp1251ToUtf8("\x84\x85\x89\x99"), "\xE2\x80\x9E\xE2\x80\xA6\xE2\x80\xB0\xE2\x84\xA2");
  EXPECT_EQ(Cp1251ToUtf8("\xA5\xB4"), "\xD2\x90\xD2\x91");
  EXPECT_EQ(Cp1251ToUtf8("plain ASCII\r\n"), "plain ASCII\r\n");
  EXPECT_EQ(Cp1251ToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(CodePage, EveryDefinedByteSurvivesTheRoundTrip) {
  for (int b = 0; b < 256; ++b) {
    const std::string byte(1, static_cast<char>(b));
    const std::string utf8 = Cp1251ToUtf8(byte);
    if (b == 0x98) {
      EXPECT_EQ(utf8, "\xEF\xBF\xBD");
      EXPECT_EQ(Utf8ToCp1251(utf8), "?");
    } else {
      EXPECT_EQ(Utf8ToCp1251(utf8), byte) << b;
    }
  }
}

TEST(CodePage, UnmappableAndInvalidInputBecomesQuestionMarks) {
  EXPECT_EQ(Utf8ToCp1251("\xE4\xB8\xAD"), "?");        // CJK letter
  EXPECT_EQ(Utf8ToCp1251("\xF0\x9F\x98\x80!"), "?!");  // emoji
  EXPECT_EQ(Utf8ToCp1251("a\xFFz"), "a?z");            // never valid
  EXPECT_EQ(Utf8ToCp1251("\xC0\x80"), "??");           // overlong NUL
  EXPECT_EQ(Utf8ToCp1251("\xED\xA0\x80"), "???");      // surrogate
  EXPECT_EQ(Utf8ToCp1251("\xD0"), "?");                // cut at the end
  EXPECT_EQ(Utf8ToCp1251("\xE2\x82x"), "?x");          // cut in the middle
  EXPECT_EQ(Utf8ToCp1251("\xD0\xD0\x9F"), "?\xCF");    // restarts at the next lead
}

}  // namespace
}  // namespace orv
