#include "client_packets.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orv::client {
namespace {

const Identity kAlice{"10.0.0.7", "00AA11", "alice", "a.gif"};

TEST(ClientPacketTest, BuildsTheHeaderAndReadsItBack) {
  const std::string packet = BuildClientPacket(kAlice, 5, "hi || there");
  EXPECT_EQ(packet, "10.0.0.7(00AA11)||alice||a.gif||0.0||1||5||hi || there//end");
  const ParsedPacket parsed = ParsePacket(packet);
  ASSERT_TRUE(parsed.wellFormed()) << parsed.problem;
  EXPECT_EQ(parsed.ip, "10.0.0.7");
  EXPECT_EQ(parsed.mac, "00AA11");
  EXPECT_EQ(parsed.name, "alice");
  EXPECT_EQ(parsed.avatar, "a.gif");
  EXPECT_EQ(parsed.subject, "0.0");
  EXPECT_EQ(parsed.flag, "1");
  EXPECT_EQ(parsed.type, 5);
  EXPECT_EQ(parsed.body, "hi || there");  // separators after the type stay in the body

  EXPECT_EQ(BuildClientPacket(kAlice, 4, StatusBody(3, "away"), "00BB"),
            "10.0.0.7(00AA11)||alice||a.gif||00BB||1||4||3:away//end");

  const ParsedPacket server = ParsePacket("1.2.3.4(AA)||n||a||0.0||1||07x||1:hello");
  EXPECT_EQ(server.type, 7);
  EXPECT_EQ(server.body, "1:hello");
}

TEST(ClientPacketTest, NamesWhatIsMissingFromAMalformedPacket) {
  EXPECT_EQ(ParsePacket("garbage").problem, "no \"(\" after the IP");
  EXPECT_EQ(ParsePacket("1.2.3.4(AA||n||a||0.0||1||5||x").problem, "no \")||\" after the MAC");
  EXPECT_EQ(ParsePacket("1.2.3.4(AA)||n||a||0.0||1").problem, "fewer than six \"||\" separators");
  EXPECT_EQ(ParsePacket("1.2.3.4(AA)||n||a||0.0||1||||body").problem, "empty type field");
  EXPECT_EQ(ParsePacket("").problem, "no \"(\" after the IP");
  // Only the text before the first terminator counts.
  EXPECT_EQ(ParsePacket("1(A)||n||a||s||f||6||1:x//endmore").body, "1:x");
}

TEST(PacketStreamTest, CutsTheStreamAtTerminatorsWhereverReceivesEnd) {
  const WireCodec& codec = WireCodec::BuiltIn();
  const std::string first = BuildClientPacket(kAlice, 5, "one");
  const std::string second = BuildClientPacket(kAlice, 5, "\xC0\xE1[x]\x01");
  const std::string wire = codec.EncodeText(first + second + "1(A)||partial");

  for (std::size_t cut = 0; cut <= wire.size(); ++cut) {
    PacketStream stream(codec);
    std::vector<PacketStream::Item> items;
    stream.Feed(std::string_view(wire).substr(0, cut), items);
    stream.Feed(std::string_view(wire).substr(cut), items);
    ASSERT_EQ(items.size(), 2u) << "cut at " << cut;
    EXPECT_EQ(items[0].text + "//end", first);
    EXPECT_EQ(items[1].text + "//end", second);
    EXPECT_EQ(stream.PendingText(), "1(A)||partial");
  }
}

TEST(PacketStreamTest, TakesOutTheServersSocketErrorNotice) {
  const WireCodec& codec = WireCodec::BuiltIn();
  const std::string wire = codec.EncodeText(BuildClientPacket(kAlice, 5, "whole"));
  // The notice can land between two packets or inside one relayed in two pieces.
  const std::string stream = wire.substr(0, 10) + std::string(kSocketErrorNotice) +
                             wire.substr(10) + std::string(kSocketErrorNotice);
  // A byte at a time, and everything in one receive.
  for (const std::size_t piece : {std::size_t{1}, stream.size()}) {
    PacketStream cutter(codec);
    std::vector<PacketStream::Item> items;
    for (std::size_t at = 0; at < stream.size(); at += piece)
      cutter.Feed(std::string_view(stream).substr(at, piece), items);
    ASSERT_EQ(items.size(), 3u) << piece;
    EXPECT_EQ(items[0].kind, PacketStream::Item::Kind::kSocketErrorNotice);
    EXPECT_EQ(items[1].kind, PacketStream::Item::Kind::kPacket);
    EXPECT_EQ(items[1].text, BuildClientPacket(kAlice, 5, "whole").substr(0, wire.size() - 5));
    EXPECT_EQ(items[2].kind, PacketStream::Item::Kind::kSocketErrorNotice);
    EXPECT_EQ(cutter.PendingBytes(), 0u);
  }
}

TEST(UserListTest, ReadsEveryCompleteEntry) {
  const std::string block =
      "[IUL]|U1|ann|/U1||U2|AA|/U2||U3|1.1.1.1|/U3||U4|n/a|/U4||U5|none|/U5||U6|0|/U6|"
      "|U7|1|/U7|[/IUL]"
      "[IUL]|U1|bob|/U1||U2|BB|/U2||U3|2.2.2.2|/U3||U4|at | lunch|/U4||U5|b.gif|/U5|"
      "|U6|-3|/U6||U7|0|/U7|[/IUL]"
      "[IUL]|U1|cut|/U1|";
  const std::vector<UserEntry> users = ParseUserList(block);
  ASSERT_EQ(users.size(), 2u);
  EXPECT_EQ(users[0].name, "ann");
  EXPECT_EQ(users[0].stateFlag, "1");
  EXPECT_EQ(users[1].mac, "BB");
  EXPECT_EQ(users[1].ip, "2.2.2.2");
  EXPECT_EQ(users[1].statusText, "at | lunch");
  EXPECT_EQ(users[1].avatar, "b.gif");
  EXPECT_EQ(users[1].code, "-3");
  EXPECT_TRUE(ParseUserList("").empty());

  ParsedPacket list = ParsePacket("1(S)||srv||server.gif||AA||1||37||1:" + block);
  EXPECT_EQ(ServerPayload(list).substr(0, 5), "[IUL]");
  EXPECT_EQ(DescribeLine(ParsePacket("1(S)||srv||server.gif||AA||1||37||1:")),
            "37 srv: user list (0)");
  ParsedPacket chat = ParsePacket("1(A)||ann||a||0.0||1||5||1:not a prefix");
  EXPECT_EQ(ServerPayload(chat), "1:not a prefix");
}

TEST(ProfileTagsTest, ReadsPairsInOrderAndSkipsStrayBars) {
  const auto tags = ParseProfileTags(
      "|NAME|srv|/NAME||DESC||/DESC||WWW|a|b|/WWW| junk | |VERSION|ORV 1.3|/VERSION||OPEN|x");
  ASSERT_EQ(tags.size(), 4u);
  EXPECT_EQ(tags[0], (std::pair<std::string, std::string>{"NAME", "srv"}));
  EXPECT_EQ(tags[1], (std::pair<std::string, std::string>{"DESC", ""}));
  EXPECT_EQ(tags[2], (std::pair<std::string, std::string>{"WWW", "a|b"}));
  EXPECT_EQ(tags[3], (std::pair<std::string, std::string>{"VERSION", "ORV 1.3"}));
}

TEST(DescribeTest, ReadsEachKindOfPacketOnOneLine) {
  const auto line = [](const std::string& text) { return DescribeLine(ParsePacket(text)); };
  EXPECT_EQ(line("1(S)||srv||server.gif||0.0||1||45||1:20"), "45 srv: AFS value 20");
  EXPECT_EQ(line("1(S)||srv||server.gif||0.0||1||6||1:line one\nline two\\"),
            "6 srv: line one\\nline two\\\\");
  EXPECT_EQ(line("1(A)||ann||a||0.0||1||2||4:busy: really"),
            "2 ann: announce status 4: busy: really");
  EXPECT_EQ(line("1(A)||ann||a||0.0||1||34||7"), "34 ann: state off, status ?: 7");
  EXPECT_EQ(line("1(A)||ann||a||0.0||1||16||f.txt;a;b"), "16 ann: file f.txt: a;b");
  EXPECT_EQ(line("1(S)||srv||server.gif||AA||1||15||1:|NAME|srv|/NAME||WWW||/WWW|"),
            "15 srv: profile: NAME=srv; WWW=");
  EXPECT_EQ(line("1(S)||srv||server.gif||AA||1||37||1:[IUL]|U1|ann|/U1||U2|AA|/U2||U3|1|/U3|"
                 "|U4|n/a|/U4||U5|none|/U5||U6|0|/U6||U7|0|/U7|[/IUL]"),
            "37 srv: user list (1): ann [AA, 1, status 0 \"n/a\", none, state 0]");
  EXPECT_EQ(line("no header"), "malformed packet (no \"(\" after the IP)");

  const auto lines =
      DescribeLines(ParsePacket("1(S)||srv||server.gif||AA||1||15||1:|NAME|srv|/NAME|"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "srv (type 15): profile");
  EXPECT_EQ(lines[1], "  NAME: srv");
  EXPECT_EQ(EscapeLine(std::string("a\tb\r\x01\x7f", 6)), "a\\tb\\r\\x01\\x7f");
}

}  // namespace
}  // namespace orv::client
