#include "console/escape.h"

#include <gtest/gtest.h>

#include <string>

namespace orv {
namespace {

// Client text in a console line can neither start a line of its own nor make the line long.
TEST(ClientText, EscapesControlCharactersAndCutsLongTextsWithAMark) {
  EXPECT_EQ(ClientText("anna"), "anna");
  EXPECT_EQ(ClientText(std::string("a\r\nb\t\x1B[2J\x7F", 10)), "a\\r\\nb\\t\\x1B[2J\\x7F");
  const std::string exact(kClientTextLimit, 'x');
  EXPECT_EQ(ClientText(exact), exact);
  EXPECT_EQ(ClientText(exact + "yz"), exact + "...[+2 bytes]");
  EXPECT_EQ(ClientText(std::string(32000, 'n')), std::string(64, 'n') + "...[+31,936 bytes]");
  // An escape is never cut in two: the limit falls between characters.
  const std::string text = std::string(62, 'x') + "\x1B\x1B\x1B";
  EXPECT_EQ(ClientText(text), std::string(62, 'x') + "\\x1B...[+2 bytes]");
}

}  // namespace
}  // namespace orv
