// Packets as TCP delivers them: one written in pieces with pauses between, several in one
// write, and zero bytes between them. Each is acted on and relayed exactly once, whole.
#include <gtest/gtest.h>

#include "e2e_support.h"

namespace orv::e2e {
namespace {

std::string Encode(const std::string& plain) {
  return WireCodec::BuiltIn().EncodeText(plain);
}

std::size_t Occurrences(const std::string& haystack, const std::string& needle) {
  std::size_t count = 0;
  for (std::size_t at = haystack.find(needle); at != std::string::npos;
       at = haystack.find(needle, at + needle.size()))
    ++count;
  return count;
}

TEST(StreamTest, PacketsSplitOverWritesOrSharingOneAreEachActedOnAndRelayedOnceWhole) {
  RunningServer server;
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  Client alice(server.Port());
  Client bob(server.Port());
  Client carol(server.Port());
  ASSERT_TRUE(alice.WaitForType(6) && bob.WaitForType(6) && carol.WaitForType(6));
  ASSERT_TRUE(alice.Send(MakePacket("AA01", "alice", 2, "1:online")));
  ASSERT_TRUE(alice.WaitForType(37));
  ASSERT_TRUE(carol.WaitForType(2));
  std::vector<Client*> everybody = {&alice, &bob, &carol};
  for (Client* client : everybody) {
    client->Pump(milliseconds(100));
    client->Clear();
  }

  // A chat line longer than a network packet, written in two pieces with a pause; then one
  // whose terminator is cut in two. Nothing is relayed before a packet is complete.
  const std::string longBody = "long " + std::string(1400, 'x') + " end of the long line";
  const std::string longLine = Encode(MakePacket("AA01", "alice", 5, longBody));
  const std::string cutBody = "cut " + std::string(1500, 'y');
  const std::string cutLine = Encode(MakePacket("AA01", "alice", 5, cutBody));
  ASSERT_TRUE(alice.SendRaw(longLine.substr(0, 1000)));
  bob.Pump(milliseconds(300));
  EXPECT_EQ(bob.RawReceived(), "");
  ASSERT_TRUE(alice.SendRaw(longLine.substr(1000)));
  ASSERT_TRUE(alice.SendRaw(cutLine.substr(0, cutLine.size() - 2)));
  bob.Pump(milliseconds(300));
  ASSERT_TRUE(alice.SendRaw(cutLine.substr(cutLine.size() - 2)));

  // A half packet ended by a zero byte is dropped; the packet after it is not.
  const std::string afterZero = Encode(MakePacket("AA01", "alice", 5, "after the zero"));
  ASSERT_TRUE(alice.SendRaw(Encode("10.0.0.7(AA01)||alice||no") + std::string(1, '\0') + afterZero +
                            std::string(1, '\0')));
  for (Client* client : everybody) {
    ASSERT_TRUE(client->WaitFor([](const Packet& p) { return p.body == "after the zero"; }))
        << client->RawReceived().size();
    client->Pump(milliseconds(100));
    std::vector<std::string> bodies;
    for (const Packet& packet : client->Packets()) {
      if (packet.type == 5) bodies.push_back(packet.body);
    }
    EXPECT_EQ(bodies, (std::vector<std::string>{longBody, cutBody, "after the zero"}));
  }
  // Byte for byte (alice, who has a user, may also get the list refresh's AFS value).
  EXPECT_EQ(bob.RawReceived(), longLine + cutLine + afterZero);
  EXPECT_EQ(carol.RawReceived(), longLine + cutLine + afterZero);
  EXPECT_FALSE(alice.ClosedByPeer());
  EXPECT_EQ(server.process->CountLines("Connection closed"), 0u) << server.process->Transcript();
  // The pieces made no user of their own: alice is the only one.
  auto rows = server.process->ListUsers();
  ASSERT_EQ(rows.size(), 1u) << server.process->Transcript();
  EXPECT_NE(rows[0].find("AA01"), std::string::npos) << rows[0];

  // An announcement and a profile request in one write: both are answered, both relayed.
  bob.Clear();
  carol.Clear();
  ASSERT_TRUE(bob.Send(MakePacket("BB02", "bob", 2, "1:here") +
                       MakePacket("BB02", "bob", 14, "OrvServer")));
  auto list = bob.WaitFor([](const Packet& p) { return p.type == 37 && p.subject == "BB02"; });
  ASSERT_TRUE(list) << bob.Packets().size();
  EXPECT_NE(list->body.find("|U1|bob|/U1|"), std::string::npos) << *list;
  auto profile = bob.WaitForType(15);
  ASSERT_TRUE(profile);
  EXPECT_EQ(profile->subject, "BB02");
  EXPECT_NE(profile->body.find("|NAME|OrvServer|/NAME|"), std::string::npos) << *profile;
  ASSERT_TRUE(carol.WaitForType(14));
  ASSERT_EQ(carol.Packets().size(), 2u);
  EXPECT_EQ(carol.Packets()[0].type, 2);
  EXPECT_EQ(Occurrences(carol.RawReceived(), Encode(MakePacket("BB02", "bob", 2, "1:here"))), 1u);
  EXPECT_FALSE(carol.WaitForType(15, milliseconds(200)));

  server.process->Type("/exit");
  EXPECT_EQ(server.process->WaitExit(milliseconds(5000)), 0) << server.process->Transcript();
}

// Some clients write four characters after each terminator. They stay with the packet they
// follow (relayed with it, at once) and never become part of the next header; packets
// without a complete header are relayed as they came, making no user.
TEST(StreamTest, CharactersAfterTheTerminatorAndHeaderlessPacketsAreRelayedAsTheyCame) {
  RunningServer server;
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  ServerProcess& console = *server.process;
  Client bob(server.Port());
  ASSERT_TRUE(bob.WaitForType(6));
  for (const std::string trailer : {"ABCD", "\r\n\r\n"}) {
    SCOPED_TRACE("trailer \"" + trailer + "\"");
    Client alice(server.Port());
    ASSERT_TRUE(alice.WaitForType(6));
    bob.Pump(milliseconds(100));
    bob.Clear();
    // One packet a write: it and its four characters reach bob at once.
    const std::string first = Encode(MakePacket("AA01", "alice", 2, "1:online") + trailer);
    ASSERT_TRUE(alice.SendRaw(first));
    ASSERT_TRUE(bob.WaitForType(2));
    bob.Pump(milliseconds(50));
    EXPECT_EQ(bob.RawReceived(), first);
    // Two trailed packets in one write.
    bob.Clear();
    const std::string two = Encode(MakePacket("AA01", "alice", 5, "one") + trailer +
                                   MakePacket("AA01", "alice", 5, "two") + trailer);
    ASSERT_TRUE(alice.SendRaw(two));
    ASSERT_TRUE(bob.WaitFor([](const Packet& p) { return p.body == "two"; }));
    bob.Pump(milliseconds(50));
    EXPECT_EQ(bob.RawReceived(), two);
    // The next headers were read as written: alice reports 10.0.0.7, nothing else.
    const auto rows = console.ListUsers();
    ASSERT_EQ(rows.size(), 1u) << console.Transcript();
    EXPECT_NE(rows[0].find("  10.0.0.7  "), std::string::npos) << rows[0];
    const std::size_t mark = console.LineCount();
    alice.Close();
    ASSERT_TRUE(console.WaitForLine("Users connected: 0", milliseconds(5000), mark));
  }

  // A packet without a complete header: relayed byte for byte, but nobody is made of it.
  Client carol(server.Port());
  ASSERT_TRUE(carol.WaitForType(6));
  bob.Pump(milliseconds(100));
  bob.Clear();
  const std::string headerless =
      Encode("hello without a header//end") + Encode("10.0.0.9||carol||x||0.0||0||5||no MAC//end");
  ASSERT_TRUE(carol.SendRaw(headerless));
  ASSERT_TRUE(bob.WaitFor([](const Packet& p) { return p.body == "no MAC"; })) << bob.RawReceived();
  EXPECT_EQ(bob.RawReceived(), headerless);
  EXPECT_TRUE(console.WaitForLine("has an incomplete header: relayed, but it makes no user",
                                  milliseconds(3000)));
  EXPECT_EQ(console.CountLines("incomplete header"), 1u) << console.Transcript();
  EXPECT_TRUE(console.ListUsers().empty());
}

}  // namespace
}  // namespace orv::e2e
