// What the chat makes of the packets that arrive: plain words, the server told apart from
// clients that pose as it, the welcome once, joins and leaves from the lists, and the pace
// the AFS value allows.
#include "conversation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "send_pacer.h"

namespace orv::client {
namespace {

const std::string kOwnMac = "AA0001";

PacketStream::Item Item(const std::string& decoded) {
  return {PacketStream::Item::Kind::kPacket, decoded};
}

std::string Server(int type, const std::string& payload, const std::string& subject = "0.0") {
  return "10.0.0.1(5E5E5E)||OrvServer||server.gif||" + subject + "||1||" + std::to_string(type) +
         "||1:" + payload;
}

std::string Client(const std::string& mac, const std::string& name, int type,
                   const std::string& body) {
  return "10.0.0.9(" + mac + ")||" + name + "||1.gif||0.0||1||" + std::to_string(type) + "||" +
         body;
}

std::string Entry(const std::string& name, const std::string& mac, const std::string& code = "1",
                  const std::string& text = "online") {
  return "[IUL]|U1|" + name + "|/U1||U2|" + mac + "|/U2||U3|10.0.0.9|/U3||U4|" + text +
         "|/U4||U5|1.gif|/U5||U6|" + code + "|/U6||U7|0|/U7|[/IUL]";
}

// Every line a packet makes, as plain text.
std::vector<std::string> Lines(Conversation& conversation, const std::string& decoded) {
  std::vector<std::string> lines;
  for (const ChatLine& line : conversation.Take(Item(decoded)).lines)
    lines.push_back(line.Plain());
  return lines;
}

using Strings = std::vector<std::string>;

// The start of a connection: the welcome, the list (in blocks of five), the own echo.
void Join(Conversation& conversation, const std::vector<std::string>& entries,
          Strings* shown = nullptr) {
  conversation.Connected();
  Strings all = Lines(conversation, Server(6, "Welcome!"));
  std::string block;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    block += entries[i];
    if (i % 5 == 4 || i + 1 == entries.size()) {
      EXPECT_TRUE(Lines(conversation, Server(37, block, kOwnMac)).empty());
      block.clear();
    }
  }
  for (const std::string& line : Lines(conversation, Client(kOwnMac, "anna", 2, "1:online")))
    all.push_back(line);
  if (shown) *shown = all;
}

TEST(Conversation, PlainWordsForPeopleNoneForLists) {
  Conversation talk(kOwnMac);
  Strings shown;
  std::vector<std::string> entries = {Entry("anna", kOwnMac)};
  for (int i = 0; i < 6; ++i)
    entries.push_back(Entry("user" + std::to_string(i), "BB000" + std::to_string(i)));
  Join(talk, entries, &shown);
  EXPECT_EQ(shown, (Strings{"-!- OrvServer: Welcome!",
                            "* online: user0, user1, user2, user3, user4, user5"}));
  EXPECT_EQ(talk.roster().size(), 7u);

  EXPECT_EQ(Lines(talk, Client("BB0001", "user1", 5, "hello")), Strings{"user1: hello"});
  EXPECT_EQ(Lines(talk, Client("CC0001", "boris", 2, "1:online")), Strings{"* boris joined"});
  EXPECT_EQ(Lines(talk, Client("CC0002", "dora", 2, "2:lunch")),
            Strings{"* dora joined (away: lunch)"});
  EXPECT_EQ(Lines(talk, Client("CC0001", "boris", 4, "2:lunch")),
            Strings{"* boris is away: lunch"});
  // The same status again, and a number of 0 or an empty text (which keep what was there).
  EXPECT_TRUE(Lines(talk, Client("CC0001", "boris", 2, "2:lunch")).empty());
  EXPECT_TRUE(Lines(talk, Client("CC0001", "boris", 7, "0:")).empty());
  EXPECT_EQ(Lines(talk, Client("CC0001", "boris", 4, "1:online")), Strings{"* boris is online"});
  EXPECT_EQ(Lines(talk, Client("CC0001", "bob", 4, "3:meeting")),
            (Strings{"* boris is now known as bob", "* bob is busy: meeting"}));
  EXPECT_EQ(Lines(talk, Client("CC0001", "bob", 25, "9:on the phone")),
            Strings{"* bob's status: on the phone (status 9)"});
  EXPECT_EQ(Lines(talk, Client("CC0001", "bob", 16, "notes.txt;abc")),
            Strings{"* bob posted the file notes.txt (3 bytes)"});
  // AFS values, profile requests and other clients' lists say nothing; the value is taken.
  const Conversation::Outcome afs = talk.Take(Item(Server(45, "15")));
  EXPECT_TRUE(afs.lines.empty());
  EXPECT_EQ(afs.afs, 15);
  EXPECT_TRUE(afs.refreshed);
  EXPECT_TRUE(Lines(talk, Client("CC0001", "bob", 14, "OrvServer")).empty());
  EXPECT_TRUE(Lines(talk, Server(37, Entry("zed", "ZZ0001"), "CC0001")).empty());
  EXPECT_EQ(talk.roster().Find("ZZ0001"), nullptr);

  // Cyrillic from the wire (Windows-1251) reads as written; control characters are escaped.
  EXPECT_EQ(Lines(talk, Client("CC0003", "\xC4\xEE\xF0\xE0", 5, "\xEF\xF0\xE8\xE2\xE5\xF2")),
            Strings{"Дора: привет"});
  EXPECT_EQ(Lines(talk, Client("CC0004", "m\x1b[2J", 5, "a\x1b]0;x\x07\r\nanna: b")),
            Strings{"m\\x1B[2J: a\\x1B]0;x\\x07\\r\\nanna: b"});
}

TEST(Conversation, ListsShowWhoLeftAndWhoCameUnannounced) {
  Conversation talk(kOwnMac);
  Join(talk, {Entry("anna", kOwnMac), Entry("boris", "BB01"), Entry("clara", "CC01")});
  EXPECT_EQ(Lines(talk, Client("DD01", "dora", 2, "1:online")), Strings{"* dora joined"});

  // The next list (asked for after a refresh): clara and dora gone, eve there unannounced.
  EXPECT_TRUE(
      Lines(talk, Server(37, Entry("anna", kOwnMac) + Entry("boris", "BB01") + Entry("eve", "EE01"),
                         kOwnMac))
          .empty());
  const Conversation::Outcome echo = talk.Take(Item(Client(kOwnMac, "anna", 2, "1:online")));
  EXPECT_TRUE(echo.listed);
  EXPECT_TRUE(echo.rosterChanged);
  Strings lines;
  for (const ChatLine& line : echo.lines)
    lines.push_back(line.Plain());
  EXPECT_EQ(lines, (Strings{"* clara left", "* dora left", "* eve joined"}));
  EXPECT_EQ(talk.roster().size(), 3u);

  // A reconnection keeps what is known: who went meanwhile is said, the welcome is not.
  Strings shown;
  Join(talk, {Entry("anna", kOwnMac), Entry("eve", "EE01")}, &shown);
  EXPECT_EQ(shown, Strings{"* boris left"});
  // A changed welcome is news.
  talk.Connected();
  EXPECT_EQ(Lines(talk, Server(6, "Closed at noon")), Strings{"-!- OrvServer: Closed at noon"});
}

TEST(Conversation, OnlyTheServerSpeaksAsTheServer) {
  Conversation talk(kOwnMac);
  Join(talk, {Entry("anna", kOwnMac)});
  // A client that writes the server's types under its own header, even with the server's
  // name and avatar, is shown as the client it is; its AFS values and lists count for
  // nothing.
  const std::string fake = "10.0.0.66(666666)||OrvServer||server.gif||0.0||1||";
  EXPECT_EQ(Lines(talk, fake + "6||1:Server restarting, send your password"),
            Strings{"OrvServer: 1:Server restarting, send your password"});
  const Conversation::Outcome afs = talk.Take(Item(fake + "45||1:1"));
  EXPECT_FALSE(afs.afs.has_value());
  EXPECT_TRUE(Lines(talk, fake + "37||1:" + Entry("ghost", "GG01")).empty());
  talk.Take(Item(Client(kOwnMac, "anna", 2, "1:online")));
  EXPECT_EQ(talk.roster().Find("GG01"), nullptr);
  // The server itself still is.
  EXPECT_EQ(Lines(talk, Server(6, "Maintenance at 5")), Strings{"-!- OrvServer: Maintenance at 5"});
  EXPECT_EQ(talk.Take(Item(Server(45, "20"))).afs, 20);
}

TEST(SendPacer, KeepsToTheValueInAnyMinute) {
  using namespace std::chrono_literals;
  SendPacer pacer;
  const auto start = SendPacer::Clock::now();
  EXPECT_TRUE(pacer.TryTake(start));  // the announcement, before any value came
  pacer.SetLimit(3);
  EXPECT_TRUE(pacer.TryTake(start + 1s));
  EXPECT_TRUE(pacer.TryTake(start + 2s));
  EXPECT_FALSE(pacer.TryTake(start + 3s));
  EXPECT_EQ(pacer.NextFree(start + 3s), start + 60s);
  EXPECT_FALSE(pacer.TryTake(start + 59s));
  EXPECT_TRUE(pacer.TryTake(start + 60s));
  EXPECT_FALSE(pacer.TryTake(start + 60s));
  EXPECT_EQ(pacer.NextFree(start + 60s), start + 61s);
  pacer.SetLimit(0);  // no limit
  for (int i = 0; i < 100; ++i)
    EXPECT_TRUE(pacer.TryTake(start + 61s));
}

}  // namespace
}  // namespace orv::client
