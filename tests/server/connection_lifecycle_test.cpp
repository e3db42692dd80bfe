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
}

TEST_F(EngineTest, ListenFailureIsReportedAndTheServerKeepsRunning) {
  network_.fail = true;
  Start();
  EXPECT_FALSE(server_->IsListening());
  EXPECT_TRUE(view_.HasLine(std::string(72, '.')));
  EXPECT_TRUE(view_.HasLine("S7"));
  EXPECT_TRUE(view_.HasLine("cannot listen on 10.9.8.7"));
  EXPECT_EQ(view_.console.back(), "");
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

TEST_F(EngineTest, EveryReceiveIsRelayedToEveryConnectionUnchanged) {
  Start();
  auto a = Login("AA", "alice");
  auto b = Login("BB", "bob");
  ClearOutputs();

  const std::string chat = Packet("AA", "alice", 5, "hello");
  Receive(a, chat);
  EXPECT_THAT(a->Sent(), ElementsAre(chat));
  EXPECT_THAT(b->Sent(), ElementsAre(chat));

  // No terminator: relayed unread, no record made.
  ClearOutputs();
  Receive(a, "just some bytes");
  EXPECT_THAT(b->Sent(), ElementsAre("just some bytes"));
  EXPECT_EQ(server_->Users().GetCount(), 2);

  // Two packets in one receive: relayed together, only the first is acted on.
  ClearOutputs();
  const std::string two = Packet("CC", "carol", 5, "one") + Packet("DD", "dave", 5, "two");
  Receive(a, two);
  EXPECT_THAT(b->Sent(), ElementsAre(two));
  EXPECT_NE(server_->Users().Find("CC"), nullptr);
  EXPECT_EQ(server_->Users().Find("DD"), nullptr);

  // A zero byte cuts the text.
  ClearOutputs();
  Receive(a, std::string("abc\0def", 7));
  EXPECT_THAT(b->Sent(), ElementsAre("abc"));
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
  EXPECT_THAT(view_.Unstamped(), ::testing::IsSupersetOf({"S37 192.168.1.20", "S38 1"}));
  ASSERT_EQ(view_.rows.size(), 1u);
  EXPECT_EQ(view_.rows[0].name, "bob");

  // A late event for the closed connection changes nothing.
  server_->OnPeerClosed(*a);
  server_->OnReceived(*a, Packet("AA", "alice", 5, "ghost"));
  EXPECT_EQ(server_->Users().GetCount(), 1);
  EXPECT_TRUE(b->Sent().empty() || DecodedSent(*b).back().type == 45);
}

TEST_F(EngineTest, ReconnectWithTheSameMacTakesOverTheRecord) {
  Start();
  auto first = Login("AA", "alice");
  auto second = Login("AA", "alice");
  EXPECT_EQ(server_->Users().GetCount(), 1);
  server_->OnPeerClosed(*first);
  ASSERT_EQ(server_->Users().GetCount(), 1);
  EXPECT_EQ(server_->Users().GetConnectionAt(0), second->Key());
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
      view_.HasLine("Connection from 192.168.1.9 closed: it does not read what the server sends"));
}

TEST_F(EngineTest, RefreshClosesRecordsWithoutMacAndKeepsOneRowPerRecord) {
  Start();
  auto a = Login("AA", "alice");
  auto bad1 = Connect();
  Receive(bad1, server_->Codec().EncodeText("no header at all||x||5||hi//end"));
  auto b = Login("BB", "bob");
  auto bad2 = Connect();
  // Both lack a MAC, so they share the record keyed "", which follows the last sender.
  Receive(bad2, server_->Codec().EncodeText("1.2.3.4||n||a||s||f||5||x//end"));
  ASSERT_EQ(server_->Users().GetCount(), 3);

  server_->OnRefresh();
  EXPECT_TRUE(bad1->closed);  // already by the refresh of the next accept
  EXPECT_TRUE(bad2->closed);
  ASSERT_EQ(server_->Users().GetCount(), 2);
  ASSERT_EQ(view_.rows.size(), 2u);
  EXPECT_EQ(view_.rows[0].mac, "AA");
  EXPECT_EQ(view_.rows[1].mac, "BB");
  EXPECT_TRUE(view_.HasLine("S37 isBug?"));
}

TEST_F(EngineTest, RefreshSendsEveryUserItsAfsValueAndUpdatesTheTooltip) {
  WriteFile("data/afs.cfg", "[LIST]\nAA=0\n");
  Start();
  auto a = Login("AA", "alice");
  auto b = Login("BB", "bob");
  ClearOutputs();
  server_->OnRefresh();
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
  server_->OnSend("   ");
  server_->OnSend(" x ");
  EXPECT_TRUE(a->Sent().empty());
  server_->OnSend("  hello all \t");
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
