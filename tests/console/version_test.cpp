#include "console/version.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

constexpr std::uint32_t Word(std::uint32_t high, std::uint32_t low) {
  return (high << 16) | low;
}

TEST(Version, ShortFormUnlessTheSecondWordIsSet) {
  EXPECT_EQ(GetVersionString(Word(1, 3), Word(0, 0)), "1.3");
  EXPECT_EQ(GetVersionString(Word(2, 0), 0), "2.0");
  EXPECT_EQ(GetVersionString(Word(1, 3), Word(0, 1)), "1.3.0.1");
  EXPECT_EQ(GetVersionString(Word(1, 3), Word(1, 0)), "1.3.1.0");
  EXPECT_EQ(GetVersionString(0, Word(0, 1)), "0.0.0.1");
  EXPECT_EQ(GetVersionString(0, 0), "");
  EXPECT_EQ(GetVersionString(0xFFFFFFFFu, 0xFFFFFFFFu), "65535.65535.65535.65535");
}

}  // namespace
}  // namespace orv
