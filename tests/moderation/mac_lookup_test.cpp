#include "moderation/mac_lookup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orv {
namespace {

TEST(FormatMacBytes, UpperCaseWithColonsBetween) {
  EXPECT_EQ(FormatMacBytes({0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}), "00:1A:2B:3C:4D:5E");
  EXPECT_EQ(FormatMacBytes({0xff}), "FF");
  EXPECT_EQ(FormatMacBytes({}), "");
}

TEST(LookupMacAddress, NothingFoundGivesTheArgumentBack) {
  for (const std::string& ip :
       std::vector<std::string>{"", "garbage", "127.0.0.1", "127.1.2.3", "300.1.1.1", "1.2.3",
                                "0.0.0.0", std::string("10.0.0.1\0x", 10)}) {
    EXPECT_EQ(LookupMacAddress(ip), ip);
  }
}

TEST(ParseIpv4Text, FourDecimalNumbersUpTo255AndNothingElse) {
  EXPECT_EQ(ParseIpv4Text("192.168.1.20"), 0xC0A80114u);
  EXPECT_EQ(ParseIpv4Text("0.0.0.0"), 0u);
  EXPECT_EQ(ParseIpv4Text("255.255.255.255"), 0xFFFFFFFFu);
  // Forms some systems' readers accept (short, octal, hexadecimal) name no address here.
  for (const std::string& bad : std::vector<std::string>{
           "", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.04", "0x1.2.3.4", "1..2.3", "1.2.3.",
           " 1.2.3.4", "1.2.3.4 ", "1234.1.1.1", "-1.2.3.4", std::string("1.2.3.4\0", 8)}) {
    EXPECT_FALSE(ParseIpv4Text(bad)) << bad;
  }
}

TEST(LookupMacInArpTable, OnlyCompleteEntriesOfThatAddress) {
  const std::string table =
      "IP address       HW type     Flags       HW address            Mask     Device\n"
      "192.168.1.1      0x1         0x2         aa:bb:cc:0d:ee:ff     *        eth0\n"
      "192.168.1.7      0x1         0x0         11:22:33:44:55:66     *        eth0\n"
      "192.168.1.8      0x1         0x2         00:00:00:00:00:00     *        eth0\n"
      "192.168.1.9      0x1         0x2         not-a-mac             *        eth0\n"
      "broken line\n";
  EXPECT_EQ(LookupMacInArpTable(table, "192.168.1.1"), "AA:BB:CC:0D:EE:FF");
  EXPECT_EQ(LookupMacInArpTable(table, "192.168.1.7"), "");
  EXPECT_EQ(LookupMacInArpTable(table, "192.168.1.8"), "");
  EXPECT_EQ(LookupMacInArpTable(table, "192.168.1.9"), "");
  EXPECT_EQ(LookupMacInArpTable(table, "192.168.1.2"), "");
  EXPECT_EQ(LookupMacInArpTable(table, "garbage"), "");
  EXPECT_EQ(LookupMacInArpTable("", "192.168.1.1"), "");
}

}  // namespace
}  // namespace orv
