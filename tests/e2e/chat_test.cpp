// What clients see of the running server: the welcome, the relay, the server's answers and
// the pauses that follow a direct answer.
#include <gtest/gtest.h>

#include "e2e_support.h"

namespace orv::e2e {
namespace {

const auto kAnything = [](const Packet&) { return true; };

TEST(ChatTest, WelcomeComesAfterHalfASecondAndEveryPacketReachesEveryConnection) {
  RunningServer server;
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  Client alice(server.Port());
  Client bob(server.Port());
  ASSERT_TRUE(alice.Connected() && bob.Connected());

  auto welcome = alice.WaitForType(6);
  ASSERT_TRUE(welcome);
  EXPECT_GE(welcome->arrived - alice.ConnectedAt(), milliseconds(450));
  EXPECT_EQ(welcome->subject, "0.0");
  EXPECT_EQ(welcome->name, "OrvServer");
  EXPECT_EQ(welcome->body.rfind("1:Welcome", 0), 0u) << *welcome;
  ASSERT_TRUE(bob.WaitForType(6));
  alice.Clear();
  bob.Clear();

  // The relay is the received bytes unchanged, the sender included.
  const std::string hello = WireCodec::BuiltIn().EncodeText(MakePacket("AA01", "alice", 5, "hi"));
  ASSERT_TRUE(alice.SendRaw(hello));
  ASSERT_TRUE(bob.WaitFor(kAnything));
  ASSERT_TRUE(alice.WaitFor(kAnything));
  EXPECT_EQ(bob.RawReceived(), hello);
  EXPECT_EQ(alice.RawReceived(), hello);

  // Two packets in one receive travel on together.
  alice.Clear();
  bob.Clear();
  const std::string pair =
      MakePacket("AA01", "alice", 5, "one") + MakePacket("AA01", "alice", 5, "two");
  ASSERT_TRUE(alice.Send(pair));
  ASSERT_TRUE(bob.WaitFor([](const Packet& p) { return p.body == "two"; }));
  ASSERT_EQ(bob.Packets().size(), 2u);
  EXPECT_EQ(bob.Packets()[0].body, "one");

  // A packet that arrives in pieces is acted on and relayed once it is whole, byte for
  // byte; bytes without a terminator are relayed to nobody.
  bob.Clear();
  const std::string longLine = WireCodec::BuiltIn().EncodeText(
      MakePacket("AA01", "alice", 5, std::string(1400, 'x') + " end of a long line"));
  ASSERT_TRUE(alice.SendRaw(longLine.substr(0, 700)));
  bob.Pump(milliseconds(300));
  EXPECT_EQ(bob.RawReceived(), "");
  ASSERT_TRUE(alice.SendRaw(longLine.substr(700)));
  ASSERT_TRUE(bob.WaitFor(kAnything));
  EXPECT_EQ(bob.RawReceived(), longLine);
  // (They begin with a digit, as a header does: up to four other characters right after a
  // terminator would be taken for characters the client writes after its packets.)
  bob.Clear();
  ASSERT_TRUE(alice.SendRaw(WireCodec::BuiltIn().EncodeText("1 no terminator here")));
  bob.Pump(milliseconds(300));
  EXPECT_EQ(bob.RawReceived(), "");
}

// Listening on every address (ServerIP empty, as the package and the Windows zip have it),
// the server still has an address and a MAC in its packets: those of the address the client
// reached. The console names the addresses clients can use, never 0.0.0.0.
TEST(ChatTest, WithoutServerIpThePacketsCarryTheAddressTheClientReached) {
  RunningServer server({}, [](WorkFolder& folder) { folder.Set("ServerIP", ""); });
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  ServerProcess& console = *server.process;
  auto listening = console.WaitForLine("clients connect to ", milliseconds(3000));
  ASSERT_TRUE(listening) << console.Transcript();
  EXPECT_EQ(console.Lines()[*listening].find("0.0.0.0"), std::string::npos)
      << console.Lines()[*listening];
  EXPECT_NE(console.Lines()[*listening].find(":" + std::to_string(server.Port())),
            std::string::npos);
  Client alice(server.Port());
  auto welcome = alice.WaitForType(6);
  ASSERT_TRUE(welcome);
  EXPECT_EQ(welcome->text.rfind("127.0.0.1(127001127001)||OrvServer||", 0), 0u) << *welcome;
  alice.Clear();
  console.Type("to everyone");
  auto said = alice.WaitForType(6);
  ASSERT_TRUE(said);
  EXPECT_EQ(said->text.rfind("127.0.0.1(127001127001)||", 0), 0u) << *said;
  ASSERT_TRUE(alice.Send(MakePacket("AA01", "alice", 14, "OrvServer")));
  auto profile = alice.WaitForType(15);
  ASSERT_TRUE(profile);
  EXPECT_NE(profile->body.find("|IP|127.0.0.1|/IP||MAC|127001127001|/MAC|"), std::string::npos)
      << *profile;
  const std::size_t mark = console.LineCount();
  console.Type("/status");
  auto status = console.WaitForLine("listening on ", milliseconds(3000), mark);
  ASSERT_TRUE(status) << console.Transcript();
  EXPECT_EQ(console.Lines()[*status].find("0.0.0.0"), std::string::npos)
      << console.Lines()[*status];
}

TEST(ChatTest, ServerAnswersListProfileAndCommandsToTheSenderOnly) {
  RunningServer server;
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  Client alice(server.Port());
  Client bob(server.Port());
  ASSERT_TRUE(alice.WaitForType(6) && bob.WaitForType(6));
  // Let both holds of the welcome run out.
  alice.Pump(milliseconds(550));
  bob.Pump(milliseconds(50));
  alice.Clear();
  bob.Clear();

  // Status announcement: the user list in type-37 blocks, then the relay.
  ASSERT_TRUE(alice.Send(MakePacket("AA01", "alice", 2, "1:online")));
  auto list = alice.WaitForType(37);
  ASSERT_TRUE(list);
  EXPECT_EQ(list->subject, "AA01");
  EXPECT_NE(list->body.find("[IUL]|U1|alice|/U1||U2|AA01|/U2|"), std::string::npos) << *list;
  ASSERT_TRUE(bob.WaitFor([](const Packet& p) { return p.type == 2; }));
  ASSERT_TRUE(bob.Send(MakePacket("BB02", "bob", 2, "1:here")));
  list = bob.WaitForType(37);
  ASSERT_TRUE(list);
  EXPECT_NE(list->body.find("|U1|alice|/U1|"), std::string::npos) << *list;
  EXPECT_NE(list->body.find("|U1|bob|/U1|"), std::string::npos) << *list;
  EXPECT_FALSE(alice.WaitFor([](const Packet& p) { return p.type == 37 && p.subject == "BB02"; },
                             milliseconds(200)));
  bob.Pump(milliseconds(600));
  alice.Clear();
  bob.Clear();

  // Profile request: type 15 to the sender only, then the relay to everybody.
  ASSERT_TRUE(alice.Send(MakePacket("AA01", "alice", 14, "OrvServer")));
  auto profile = alice.WaitForType(15);
  ASSERT_TRUE(profile);
  EXPECT_NE(profile->body.find("|NAME|OrvServer|/NAME|"), std::string::npos) << *profile;
  EXPECT_NE(profile->body.find("|VERSION|ORV Chat Server 1.3.1.0 beta|/VERSION|"),
            std::string::npos)
      << *profile;
  ASSERT_TRUE(bob.WaitForType(14));
  EXPECT_FALSE(bob.WaitForType(15, milliseconds(100)));
  alice.Pump(milliseconds(600));
  alice.Clear();
  bob.Clear();

  // A command to the server: the answer at once, the sender's copy of the relay no sooner
  // than 500 ms later, while the others get the relay at once.
  ASSERT_TRUE(alice.Send(MakePacket("AA01", "alice", 5, "OrvServer: help")));
  const auto sent = Clock::now();
  auto answer = alice.WaitForType(6);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->subject, "AA01");
  EXPECT_EQ(answer->body.rfind("1:Commands:", 0), 0u) << *answer;
  auto othersCopy = bob.WaitForType(5);
  ASSERT_TRUE(othersCopy);
  EXPECT_LT(othersCopy->arrived - sent, milliseconds(400));
  auto ownCopy = alice.WaitForType(5);
  ASSERT_TRUE(ownCopy);
  EXPECT_GE(ownCopy->arrived - answer->arrived, milliseconds(450));
  EXPECT_FALSE(bob.WaitForType(6, milliseconds(50)));
}

TEST(ChatTest, BlockedSenderIsAnsweredAndNothingOfItsIsRelayed) {
  RunningServer server({}, [](WorkFolder& folder) {
    fs::create_directories(folder.Dir() / "data");
    WriteFile(folder.Dir() / "data" / "blocklist.cfg", "[LIST]\r\nBADMAC=1\r\n");
  });
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  Client bad(server.Port());
  Client good(server.Port());
  ASSERT_TRUE(bad.WaitForType(6) && good.WaitForType(6));
  bad.Pump(milliseconds(550));
  bad.Clear();
  good.Clear();

  ASSERT_TRUE(bad.Send(MakePacket("BADMAC", "mallory", 4, "1:spam")));
  auto refusal = bad.WaitForType(6);
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->subject, "BADMAC");
  EXPECT_NE(refusal->body.find("blocked"), std::string::npos) << *refusal;
  EXPECT_TRUE(server.process->WaitForLine("Refused a user whose MAC is blocked: BADMAC"));
  bad.Pump(milliseconds(550));
  bad.Clear();
  // The connection stays open, and every later packet, chat included, is refused alike.
  ASSERT_TRUE(bad.Send(MakePacket("BADMAC", "mallory", 5, "chat")));
  EXPECT_TRUE(bad.WaitForType(6));
  good.Pump(milliseconds(300));
  EXPECT_TRUE(good.Packets().empty()) << good.Packets().front();
  EXPECT_FALSE(bad.WaitClosed(milliseconds(1)));
}

TEST(ChatTest, BoardFilesAreWrittenInsideTheBoardFolderOnly) {
  RunningServer server;
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  Client alice(server.Port());
  ASSERT_TRUE(alice.Send(MakePacket("AA01", "alice", 16, "notes.txt;first line")));
  alice.Pump(milliseconds(100));  // one packet per receive
  ASSERT_TRUE(alice.Send(MakePacket("AA01", "alice", 16, "../escape.txt;bad")));
  alice.Pump(milliseconds(100));
  ASSERT_TRUE(alice.Send(MakePacket("AA01", "alice", 16, "/tmp/orv-e2e-abs.txt;bad")));
  alice.Pump(milliseconds(100));
  ASSERT_TRUE(alice.Send(MakePacket("AA01", "alice", 5, "done")));
  ASSERT_TRUE(alice.WaitFor([](const Packet& p) { return p.body == "done"; }));
  EXPECT_EQ(ReadFile(server.folder.Dir() / "board" / "notes.txt"), "first line");
  EXPECT_FALSE(fs::exists(server.folder.Dir() / "escape.txt"));
  EXPECT_FALSE(fs::exists("/tmp/orv-e2e-abs.txt"));
}

}  // namespace
}  // namespace orv::e2e
