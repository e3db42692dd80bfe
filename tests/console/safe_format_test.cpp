#include "console/safe_format.h"

#include <gtest/gtest.h>

#include <limits>

namespace orv {
namespace {

TEST(SafeFormat, FillsExactlyOneConversionOfTheRightKind) {
  EXPECT_EQ(FormatWithInt("Users connected: %d", 3), "Users connected: 3");
  EXPECT_EQ(FormatWithInt("%i users", -12), "-12 users");
  EXPECT_EQ(FormatWithText("Connection accepted from %s", "10.0.0.7"),
            "Connection accepted from 10.0.0.7");
  EXPECT_EQ(FormatWithInt("no conversion", 5), "no conversion");

  // The value is data, never a format.
  EXPECT_EQ(FormatWithText("[%s]", "%s%n%d%%"), "[%s%n%d%%]");

  // Flags and widths as printf has them.
  EXPECT_EQ(FormatWithInt("[%5d]", 42), "[   42]");
  EXPECT_EQ(FormatWithInt("[%-5d]", 42), "[42   ]");
  EXPECT_EQ(FormatWithInt("[%05d]", -42), "[-0042]");
  EXPECT_EQ(FormatWithInt("[%+d]", 42), "[+42]");
  EXPECT_EQ(FormatWithText("[%6s]", "ab"), "[    ab]");
  EXPECT_EQ(FormatWithText("[%5.1s]", "abc"), "[    a]");
  EXPECT_EQ(FormatWithInt("%d", std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
  EXPECT_EQ(FormatWithInt("%100d", 1).size(), 100u);
}

TEST(SafeFormat, EverythingElseIsCopiedLiterally) {
  EXPECT_EQ(FormatWithText("%s%s%n%x%", "A"), "A%s%n%x%");
  EXPECT_EQ(FormatWithText("Connection from %d", "1.2.3.4"), "Connection from %d");
  EXPECT_EQ(FormatWithInt("%%d", 3), "%d");
  EXPECT_EQ(FormatWithInt("%%%d", 3), "%3");
  EXPECT_EQ(FormatWithInt("100%", 3), "100%");
  EXPECT_EQ(FormatWithInt("50% done, %d left", 3), "50% done, 3 left");
  EXPECT_EQ(FormatWithInt("%", 3), "%");
  EXPECT_EQ(FormatWithInt("%5", 3), "%5");
  EXPECT_EQ(FormatWithInt("%d and %d", 3), "3 and %d");
  EXPECT_EQ(FormatWithInt("%ld %lld %hd %p", 3), "%ld %lld %hd %p");
  EXPECT_EQ(FormatWithInt("%.3d", 3), "%.3d");
  EXPECT_EQ(FormatWithText("%05s %+s", "x"), "%05s %+s");
  EXPECT_EQ(FormatWithText("% s", "x"), "% s");

  // Widths that would blow up a console line stay text.
  EXPECT_EQ(FormatWithInt("%101d", 1), "%101d");
  EXPECT_EQ(FormatWithInt("%99999999999999999999d", 1), "%99999999999999999999d");
  EXPECT_EQ(FormatWithText("%.99999999999999999999s", "abc"), "abc");
}

}  // namespace
}  // namespace orv
