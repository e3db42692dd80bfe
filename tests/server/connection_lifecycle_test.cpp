// Accepting, relaying, closing and the list refresh, with fake connections.
#include <gmock/gmock.h>

#include "engine_fixture.h"

namespace orv::testing {
namespace {

using ::testing::ElementsAre;

TEST_F(EngineTest, StartUpReportsSettingsAndListens) {
  Start();
  EXPECT_EQ(network_.listenedAddress, "10.9.8.7");
  EXPECT_EQ(network_.listenedPort, 5000);
  EXPECT_EQ(view_.title, "ORV Chat Server (Srv)");
  EXPECT_EQ(view_.console.front(), "ORV Chat Server 1.3.1.0 beta");
  EXPECT_TRUE(view_.HasLine("S21 Srv"));
  EXPECT_TRUE(view_.HasLine("S5"));
  EXPECT_TRUE(view_.HasLine("S6"));
  EXPECT_EQ(view_.texts.strings.size(), 41u);
  EXPECT_EQ(view_.texts.floodStopper, 10);
  // The server's MAC stands in from its IP when no hardware address is found.
  EXPECT_EQ(server_->GetSettings().serverMac, "1098710987");
  // The front-ends hear where it listens, and the user count as it changes.
  EXPECT_TRUE(view_.status.listening);
  EXPECT_EQ(view_.status.address, "10.9.8.7");
  EXPECT_EQ(view_.status.port, 5000);
  EXPECT_EQ(view_.status.version, "1.3.1.0 beta");
  Login("AA", "alice");
  Refresh();
  EXPECT_EQ(view_.status.users, 1);
}

TEST_F(EngineTest, ListenFailureIsReportedAndTheServerKeepsRunning) {
  network_.fail = true;
  Start();
  EXPECT_FALSE(server_->IsListening());
  EXPECT_TRUE(view_.HasLine(std::string(72, '.')));
  EXPECT_TRUE(view_.HasLine("S7"));
  EXPECT_TRUE(view_.HasLine("cannot listen on 10.9.8.7"));
  EXPECT_EQ(view_.console.back(), "");
  EXPECT_FALSE(view_.status.listening);
  EXPECT_EQ(view_.status.notListeningReason, "cannot listen on 10.9.8.7");
}

TEST_F(EngineTest, NewConnectionIsHeldThenWelcomed) {
  Start();
  auto a = Connect("192.168.1.5");
  ASSERT_GE(a->outputs.size(), 2u);
  EXPECT_EQ(a->outputs[0].kind, Output::kHold);
  EXPECT_EQ(a->outputs[0].bytes, "500");
  EXPECT_EQ(a->outputs[1].kind, Output::kSend);
  const Seen welcome = Decode(a->outputs[1].bytes);
  EXPECT_EQ(welcome.type, 6);
  EXPECT_EQ(welcome.subject, "0.0");
  EXPECT_EQ(welcome.body, "1:Welcome!");
  EXPECT_EQ(welcome.name, "Srv");
  EXPECT_TRUE(view_.HasLine("S40 192.168.1.5"));

  // A welcome of one character is not sent; two characters are.
  SetMessage("ServerWelcomeMessage", "W");
  auto b = Connect();
  EXPECT_TRUE(b->Sent().empty());
  SetMessage("ServerWelcomeMessage", "Wx");
  auto c = Connect();
  EXPECT_EQ(c->Sent().size(), 1u);
}

TEST_F(EngineTest, PacketsAreCutFromTheStreamWhateverTheReads) {
  Start();
  auto a = Login("AA", "alice");
  auto b = Login("BB", "bob");
  ClearOutputs();

  const std::string chat = Packet("AA", "alice", 5, "hello");
  Receive(a, chat);
  EXPECT_THAT(a->Sent(), ElementsAre(chat));
  EXPECT_THAT(b->Sent(), ElementsAre(chat));

  // A packet in three pieces (the terminator itself split) is acted on and relayed once,
  // whole, when its last piece arrives.
  ClearOutputs();
  const std::string status = Packet("AA", "alice", 4, "3:" + std::string(2000, 's'));
  Receive(a, status.substr(0, 1000));
  Receive(a, status.substr(1000, status.size() - 1003));
  EXPECT_TRUE(b->Sent().empty());
  Receive(a, status.substr(status.size() - 3));
  EXPECT_THAT(b->Sent(), ElementsAre(status));
  EXPECT_EQ(server_->Users().Find("AA")->lastCode, 3);

  // Two packets in one receive: both acted on, relayed together in one write.
  auto c = Connect();
  ClearOutputs();
  const std::string two = Packet("CC", "carol", 5, "one") + Packet("DD", "dave", 5, "two");
  Receive(c, two);
  EXPECT_THAT(b->Sent(), ElementsAre(two));
  EXPECT_NE(server_->Users().Find("CC"), nullptr);
  EXPECT_NE(server_->Users().Find("DD"), nullptr);

  // A zero byte discards the unfinished packet it ends; bytes without a terminator wait,
  // relayed to nobody. (They begin with a digit, as a header does: other characters right
  // after a terminator would be taken for characters a client writes after its packets.)
  ClearOutputs();
  const WireCodec& codec = server_->Codec();
  Receive(a,
          codec.EncodeText("123") + std::string(1, '\0') + chat + codec.EncodeText("9unfinished"));
  EXPECT_THAT(b->Sent(), ElementsAre(chat));
  Receive(a, std::string("\0", 1) + chat);
  EXPECT_THAT(b->Sent(), ElementsAre(chat, chat));
  EXPECT_FALSE(a->closed);
}

TEST_F(EngineTest, AConnectionThatNeverEndsAPacketIsClosed) {
  WriteFile("orvchatserver.cfg",
            ReadFile("orvchatserver.cfg") + "<MaxPacketSize>\n1000\n</MaxPacketSize>\n");
  Start();
  auto a = Login("AA", "alice");
  auto b = Login("BB", "bob");
  Receive(a, std::string(600, 'x'));
  EXPECT_FALSE(a->closed);
  Receive(a, std::string(600, 'x'));
  EXPECT_TRUE(a->closed);
  EXPECT_TRUE(
      view_.HasLine("Connection from 192.168.1.20 (alice) closed: it sent more than 1000 bytes "
                    "without ending a packet (MaxPacketSize)"));
  EXPECT_EQ(server_->Users().Find("AA"), nullptr);
  EXPECT_FALSE(b->closed);
  // A whole packet up to the limit is fine.
  Receive(b, Packet("BB", "bob", 5, std::string(900, 'y')));
  EXPECT_FALSE(b->closed);
}

TEST_F(EngineTest, ClosingRemovesEveryRecordOfTheConnection) {
  Start();
  auto a = Login("AA", "alice");
  Receive(a, Packet("A2", "alice-again", 5, "hi"));  // a second MAC on the same connection
  auto b = Login("BB", "bob");
  ASSERT_EQ(server_->Users().GetCount(), 3);
  ClearOutputs();

  server_->OnPeerClosed(*a);
  EXPECT_TRUE(a->closed);
  EXPECT_EQ(server_->Users().GetCount(), 1);
  EXPECT_EQ(server_->Users().At(0)->mac, "BB");
  EXPECT_THAT(view_.Unstamped(),
              ::testing::IsSupersetOf({"S37 192.168.1.20 (alice, alice-again)", "S38 1"}));
  // The list follows once the events waiting with the close are handled.
  Settle();
  ASSERT_EQ(view_.rows.size(), 1u);
  EXPECT_EQ(view_.rows[0].name, "bob");

  // A late event for the closed connection changes nothing.
  server_->OnPeerClosed(*a);
  server_->OnReceived(*a, Packet("AA", "alice", 5, "ghost"));
  EXPECT_EQ(server_->Users().GetCount(), 1);
  EXPECT_TRUE(b->Sent().empty() || DecodedSent(*b).back().type == 45);
}

TEST_F(EngineTest, AMacInUseOnAnotherConnectionIsNotTakenOver) {
  Start();
  auto first = Login("AA", "alice");
  auto other = Login("BB", "bob");
  auto second = Connect("10.0.0.66");
  ClearOutputs();
  Receive(second, Packet("AA", "mallory", 4, "1:mine now", "10.0.0.66"));
  // Refused: not relayed, the record stays alice's, and the operator hears why.
  EXPECT_TRUE(other->Sent().empty());
  EXPECT_EQ(server_->Users().Find("AA")->name, "alice");
  EXPECT_EQ(server_->Users().GetConnectionAt(0), first->Key());
  EXPECT_TRUE(view_.HasLine(
      "Packet from 10.0.0.66 refused: MAC AA belongs to the connection from 192.168.1.20"));

  // The intruder leaving takes nothing with it; alice still gets her AFS value.
  server_->OnPeerClosed(*second);
  ASSERT_NE(server_->Users().Find("AA"), nullptr);
  first->outputs.clear();
  Refresh();
  EXPECT_EQ(DecodedSent(*first).back().type, 45);

  // Once alice's connection is gone, her MAC is free again (a reconnect).
  server_->OnPeerClosed(*first);
  auto again = Login("AA", "alice");
  EXPECT_EQ(server_->Users().GetConnectionAt(1), again->Key());
}

// A client that reconnects after a crash or a dropped link comes from the address its old
// connection came from; the server may not have noticed yet that the old one is dead.
TEST_F(EngineTest, AClientBackFromTheSameAddressTakesItsRecordOverAtOnce) {
  Start();
  auto first = Login("AA", "alice");
  auto other = Login("BB", "bob", "10.0.0.2");
  ASSERT_TRUE(SetAfs(0, 30));
  auto second = Connect("192.168.1.20");
  ClearOutputs();
  Receive(second, Packet("AA", "alice", 2, "1:back again"));
  EXPECT_TRUE(first->closed);
  EXPECT_FALSE(second->closed);
  ASSERT_NE(server_->Users().Find("AA"), nullptr);
  EXPECT_EQ(server_->Users().Find("AA")->connection, second->Key());
  EXPECT_EQ(server_->Users().Find("AA")->afs, 30);
  EXPECT_TRUE(view_.HasLine("MAC AA came back from 192.168.1.20 on connection " +
                            second->Key().Text() + "; its old connection " + first->Key().Text() +
                            " from 192.168.1.20 is closed"))
      << ::testing::PrintToString(view_.Unstamped());
  // Served as any announcement is: relayed, and answered with the list.
  ASSERT_FALSE(other->Sent().empty());
  EXPECT_EQ(DecodedSent(*other).front().body, "1:back again");
  bool listed = false;
  for (const Seen& seen : DecodedSent(*second))
    listed = listed || seen.type == 37;
  EXPECT_TRUE(listed);
  EXPECT_EQ(server_->Users().GetCount(), 2);
  // The old connection's late close takes nothing with it.
  server_->OnPeerClosed(*first);
  EXPECT_EQ(server_->Users().GetCount(), 2);
}

// One client must not be able to fill the disk and the journal: client text is cut short,
// and one address's accepts, closes and refusals make a few lines a minute.
TEST_F(EngineTest, OneAddressMakesAFewConsoleLinesAMinuteAndShortOnes) {
  Start();
  auto other = Login("BB", "bob", "10.0.0.2");
  const std::string longName(32000, 'n');
  for (int i = 0; i < 50; ++i) {
    auto c = Connect("10.0.0.66");
    Receive(c, Packet("M" + std::to_string(i), longName + "\r\n", 4, "1:x", "10.0.0.66"));
    Receive(c, std::string(10, 'x') + std::string(1, '\0'));
    server_->OnPeerClosed(*c);
  }
  std::size_t longest = 0;
  for (const auto& line : view_.console)
    longest = std::max(longest, line.size());
  EXPECT_LT(longest, 200u);
  EXPECT_TRUE(view_.HasLine("S37 10.0.0.66 (" + std::string(64, 'n') + "...[+31,938 bytes])"))
      << ::testing::PrintToString(view_.Unstamped());
  // 20 lines' worth of accepts and closes, then silence until the minute is over.
  EXPECT_EQ(view_.CountLines("S40 10.0.0.66"), 10);
  EXPECT_EQ(view_.CountLines("S37 10.0.0.66"), 10);
  scheduler_.Advance(60000);
  EXPECT_TRUE(view_.HasLine(
      "... and 40 more connections accepted and 40 closed from 10.0.0.66 in the last minute; "
      "S38 1"))
      << ::testing::PrintToString(view_.Unstamped());
  // Another address is not held back by this one.
  Login("CC", "carol", "10.0.0.3");
  EXPECT_TRUE(view_.HasLine("S40 10.0.0.3"));
}

TEST_F(EngineTest, AConnectionHoldsAFewUsersAtMost) {
  Start();
  auto a = Login("AA", "alice");
  auto b = Login("BB", "bob");
  ClearOutputs();
  Receive(a, Packet("A2", "alice2", 4, "1:x"));
  for (int i = 0; i < 50; ++i)
    Receive(a, Packet("FAKE" + std::to_string(i), "fake", 4, "1:x"));
  EXPECT_EQ(server_->Users().GetCount(), 3);
  EXPECT_EQ(b->Sent().size(), 1u);  // only the packet of the second user went out
  EXPECT_TRUE(
      view_.HasLine("Packet from 192.168.1.20 refused: its connection holds 2 users "
                    "already (MaxUsersPerConnection)"));
  scheduler_.Advance(60000);
  EXPECT_TRUE(
      view_.HasLine("... and 49 more refused packets from 192.168.1.20 in the last minute"));
  // Known users of the connection still speak.
  ClearOutputs();
  Receive(a, Packet("AA", "alice", 5, "still here"));
  EXPECT_EQ(b->Sent().size(), 1u);
}

TEST_F(EngineTest, ReceiveErrorIsRelayedThenTheConnectionIsClosed) {
  Start();
  auto a = Login("AA", "alice");
  auto b = Login("BB", "bob");
  ClearOutputs();
  server_->OnReceiveError(*a);
  EXPECT_THAT(b->Sent().front(), "|SERVER: SOCKET ERROR OCCURRED");
  EXPECT_TRUE(a->closed);
  EXPECT_EQ(server_->Users().GetCount(), 1);
}

TEST_F(EngineTest, OverflowingConsumerIsClosedWithAConsoleLine) {
  Start();
  auto slow = Login("AA", "alice", "192.168.1.9");
  auto other = Login("BB", "bob");
  server_->OnOverflow(*slow);
  EXPECT_TRUE(slow->closed);
  EXPECT_FALSE(other->closed);
  EXPECT_TRUE(
      view_.HasLine("Connection from 192.168.1.9 (alice) closed: it does not read what the server "
                    "sends"));
}

TEST_F(EngineTest, PacketsWithAnIncompleteHeaderMakeNoRecordButAreRelayed) {
  WriteFile("data/blocklist.cfg", "[LIST]\n192.168.1.66=1\n");
  Start();
  auto a = Login("AA", "alice");
  auto bad = Connect();
  ClearOutputs();
  const std::vector<std::string> texts = {
      "no header at all||x||5||hi//end", "1.2.3.4||n||a||s||f||5||x//end",
      "1.2.3.4()||n||a||s||f||5||x//end", "1.2.3.4(M)||n||a||s||f//end",
      "1.2||3.4(M)||n||a||s||f||5||x//end"};
  for (const std::string& text : texts)
    Receive(bad, server_->Codec().EncodeText(text));
  EXPECT_EQ(server_->Users().GetCount(), 1);
  // Relayed byte for byte, to the sender too; nothing is answered.
  std::vector<std::string> relayed;
  for (const std::string& text : texts)
    relayed.push_back(server_->Codec().EncodeText(text));
  EXPECT_EQ(a->Sent(), relayed);
  EXPECT_EQ(bad->Sent(), relayed);
  EXPECT_FALSE(bad->closed);
  EXPECT_EQ(view_.CountLines("incomplete header"), 1);
  EXPECT_TRUE(
      view_.HasLine("Packet from 192.168.1.20 has an incomplete header: relayed, but it "
                    "makes no user and gets no answer"));
  // The same connection may still announce itself properly.
  Receive(bad, Packet("BB", "bob", 4, "1:ok"));
  EXPECT_EQ(server_->Users().GetCount(), 2);
  Refresh();
  ASSERT_EQ(view_.rows.size(), 2u);
  EXPECT_FALSE(bad->closed);

  // Not from a blocked connection: its address is listed, or a user it holds is blocked.
  auto listed = Connect("192.168.1.66");
  ASSERT_TRUE(Block(1, BlockState::kName));
  ClearOutputs();
  Receive(listed, server_->Codec().EncodeText(texts[0]));
  Receive(bad, server_->Codec().EncodeText(texts[1]));
  EXPECT_TRUE(a->Sent().empty());
  EXPECT_TRUE(view_.HasLine(
      "Packet from 192.168.1.66 has an incomplete header: not relayed, its connection is "
      "blocked"));
}

TEST_F(EngineTest, RefreshSendsEveryUserItsAfsValueAndUpdatesTheTooltip) {
  WriteFile("data/afs.cfg", "[LIST]\nAA=0\n");
  Start();
  auto a = Login("AA", "alice");
  auto b = Login("BB", "bob");
  ClearOutputs();
  Refresh();
  ASSERT_FALSE(a->Sent().empty());
  EXPECT_EQ(DecodedSent(*a).back().type, 45);
  EXPECT_EQ(DecodedSent(*a).back().body, "1:0");
  EXPECT_EQ(DecodedSent(*b).back().body, "1:10");  // FloodStopper for users without a value
  EXPECT_EQ(view_.tooltip,
            "ORV Chat Server (Srv) / 1.3.1.0 beta\n--------------------------\nS15 2");
  EXPECT_THAT(view_.Unstamped(), ::testing::Contains("S38 2"));
}

TEST_F(EngineTest, ListRefreshTimerRestartsOnEveryAccept) {
  Start();
  scheduler_.Advance(3000);  // the start-up arming
  const int afterStart = view_.rowUpdates;
  Connect();
  const int afterAccept = view_.rowUpdates;
  EXPECT_EQ(afterAccept, afterStart + 1);
  scheduler_.Advance(2000);
  Connect();
  scheduler_.Advance(2999);
  EXPECT_EQ(view_.rowUpdates, afterAccept + 1);
  scheduler_.Advance(1);
  EXPECT_EQ(view_.rowUpdates, afterAccept + 2);
  scheduler_.Advance(10000);
  EXPECT_EQ(view_.rowUpdates, afterAccept + 2);
}

TEST_F(EngineTest, OperatorTextGoesToEveryoneTrimmed) {
  Start();
  auto a = Login("AA", "alice");
  ClearOutputs();
  Send("   ");
  Send(" x ");
  EXPECT_TRUE(a->Sent().empty());
  Send("  hello all \t");
  ASSERT_EQ(a->Sent().size(), 1u);
  const Seen seen = Decode(a->Sent()[0]);
  EXPECT_EQ(seen.type, 6);
  EXPECT_EQ(seen.body, "1:hello all");
  EXPECT_EQ(seen.subject, "0.0");
}

TEST_F(EngineTest, ShutdownSendsTheCloseMessageOnceAndLogsTheEnd) {
  Start();
  auto a = Login("AA", "alice");
  auto b = Login("BB", "bob");
  ClearOutputs();
  server_->ShutdownServer();
  server_->ShutdownServer();
  ASSERT_EQ(a->Sent().size(), 1u);
  EXPECT_EQ(Decode(a->Sent()[0]).body, "1:Bye all");
  EXPECT_EQ(b->Sent().size(), 1u);
  EXPECT_EQ(server_->Users().GetCount(), 0);
  const std::string log = ReadFile("logs/12-06-2026.log");
  EXPECT_NE(log.find("[13:05:09] S8\r\n\r\n\r\n\r\n"), std::string::npos) << log;
  // Nothing a client sends is acted on afterwards.
  Receive(a, Packet("AA", "alice", 5, "late"));
  EXPECT_EQ(b->Sent().size(), 1u);
}

}  // namespace
}  // namespace orv::testing
