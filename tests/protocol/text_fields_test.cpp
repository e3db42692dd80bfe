#include "protocol/text_fields.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace orv {
namespace {

TEST(TextFields, ExtractFieldUsesTheFirstOccurrence) {
  EXPECT_EQ(ExtractField("a||b||c", "||", Side::kBefore), "a");
  EXPECT_EQ(ExtractField("a||b||c", "||", Side::kAfter), "b||c");
  EXPECT_EQ(ExtractField("||x", "||", Side::kBefore), "");
  EXPECT_EQ(ExtractField("x||", "||", Side::kAfter), "");
  // A missing delimiter empties both sides, not just one.
  EXPECT_EQ(ExtractField("abc", "||", Side::kBefore), "");
  EXPECT_EQ(ExtractField("abc", "||", Side::kAfter), "");
  EXPECT_EQ(ExtractField("a|b", "||", Side::kAfter), "");
  EXPECT_EQ(ExtractField("", "||", Side::kAfter), "");
}

TEST(TextFields, ParseLeadingNumberReadsDigitsFromTheStartWithWrapAround) {
  EXPECT_EQ(ParseLeadingNumber("07x"), 7);
  EXPECT_EQ(ParseLeadingNumber("45||1:20"), 45);
  EXPECT_EQ(ParseLeadingNumber(""), 0);
  EXPECT_EQ(ParseLeadingNumber("x5"), 0);
  EXPECT_EQ(ParseLeadingNumber("-5"), 0);
  EXPECT_EQ(ParseLeadingNumber(" 5"), 0);
  EXPECT_EQ(ParseLeadingNumber("2147483647"), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(ParseLeadingNumber("2147483648"), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(ParseLeadingNumber("4294967296"), 0);
  EXPECT_EQ(ParseLeadingNumber("123456789012"), -1097262572);  // 123456789012 mod 2^32
}

TEST(TextFields, ReadPacketHeaderReadsTheFieldsInOrder) {
  const PacketHeader h = ReadPacketHeader("1.2.3.4(AA)||n||a||0.0||1||5||hello//end");
  EXPECT_EQ(h.ip, "1.2.3.4");
  EXPECT_EQ(h.mac, "AA");
  EXPECT_EQ(h.name, "n");
  EXPECT_EQ(h.avatar, "a");
  EXPECT_EQ(h.type, 5);
  EXPECT_EQ(h.typeAndBody, "5||hello");
  EXPECT_EQ(h.body, "hello");

  // Only the first packet of a unit is read; a "||" inside the body stays in the body.
  const PacketHeader two = ReadPacketHeader(
      "i(m)||n||a||s||f||07x||2:a||b//end"
      "j(k)||o||b||s||f||5||x//end");
  EXPECT_EQ(two.type, 7);
  EXPECT_EQ(two.body, "2:a||b");

  EXPECT_EQ(ReadPacketHeader("i(m)||n||a||s||f||||x//end").type, 0);  // empty type field
  EXPECT_EQ(ReadPacketHeader("i(m)||n||a||s||f||5//end").type, 0);    // no "||" after it
  EXPECT_EQ(ReadPacketHeader("i(m)||n||a||s||f||5//end").typeAndBody, "5");
}

TEST(TextFields, ReadPacketHeaderShiftsOrEmptiesFieldsOnStrayOrMissingDelimiters) {
  // A name containing "||" pushes every later field one place on.
  const PacketHeader shifted = ReadPacketHeader("i(m)||x||y||a||s||f||5||b//end");
  EXPECT_EQ(shifted.name, "x");
  EXPECT_EQ(shifted.avatar, "y");
  EXPECT_EQ(shifted.type, 0);  // "f" is read as the type
  EXPECT_EQ(shifted.body, "5||b");

  const PacketHeader none = ReadPacketHeader("no delimiters at all//end");
  EXPECT_EQ(none.ip, "");
  EXPECT_EQ(none.mac, "");
  EXPECT_EQ(none.name, "");
  EXPECT_EQ(none.type, 0);
  EXPECT_EQ(none.body, "");

  const PacketHeader noParen = ReadPacketHeader("1.2.3.4||n||a||s||f||4||3:away//end");
  EXPECT_EQ(noParen.ip, "");
  EXPECT_EQ(noParen.mac, "");
  EXPECT_EQ(noParen.name, "n");
  EXPECT_EQ(noParen.type, 4);
  EXPECT_EQ(noParen.body, "3:away");

  EXPECT_EQ(ReadPacketHeader("i(m)||n||a||s||f||5||hi").type, 0);  // no terminator: nothing
  EXPECT_EQ(ReadPacketHeader("").type, 0);
}

}  // namespace
}  // namespace orv
