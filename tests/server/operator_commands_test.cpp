// The operator's commands on a row: kick, block and unblock, AFS values.
#include <gmock/gmock.h>

#include "engine_fixture.h"

namespace orv::testing {
namespace {

TEST_F(EngineTest, KickSendsTheNoticeAndClosesHalfASecondLater) {
  Start();
  auto a = Login("AA", "alice", "10.0.0.1");
  auto b = Login("BB", "bob");
  ClearOutputs();
  ASSERT_TRUE(Kick(0));
  ASSERT_EQ(a->Sent().size(), 1u);
  EXPECT_EQ(Decode(a->Sent()[0]).body, "1:Kicked");
  EXPECT_TRUE(view_.HasLine("S36 10.0.0.1 (alice)"));
  EXPECT_FALSE(a->closed);

  // Meanwhile its input is not acted on and it gets nothing more.
  Receive(a, Packet("AA", "alice", 5, "last words"));
  Send("to everybody");
  EXPECT_EQ(b->Sent().size(), 1u);
  EXPECT_EQ(a->Sent().size(), 1u);

  scheduler_.Advance(499);
  EXPECT_FALSE(a->closed);
  scheduler_.Advance(1);
  EXPECT_TRUE(a->closed);
  EXPECT_EQ(server_->Users().GetCount(), 1);
  EXPECT_TRUE(view_.HasLine("S37 10.0.0.1 (alice)"));
  // Kicking does not block: the same user may come back at once.
  auto again = Login("AA", "alice", "10.0.0.1");
  EXPECT_EQ(server_->Users().Find("AA")->blockState, BlockState::kNone);
}

TEST_F(EngineTest, KickWithoutMessageClosesAtOnce) {
  SetMessage("ServerKickMessage", "k");
  Start();
  auto a = Login("AA", "alice");
  ClearOutputs();
  Kick(0);
  EXPECT_TRUE(a->closed);
  EXPECT_TRUE(a->Sent().empty());
}

TEST_F(EngineTest, CommandsTheMenuWouldNotOfferAreRefused) {
  Start();
  Login("AA", "alice");
  EXPECT_FALSE(Run(command::Kick{"ZZ"}));
  EXPECT_FALSE(Run(command::Kick{""}));
  EXPECT_FALSE(Unblock(0));
  EXPECT_FALSE(SetAfs(0, 101));
  EXPECT_FALSE(SetAfs(0, -1));
  EXPECT_FALSE(Block(0, BlockState::kNone));
  ASSERT_TRUE(Block(0, BlockState::kMac));
  EXPECT_FALSE(Block(0, BlockState::kName));
  EXPECT_EQ(refusals_,
            (std::vector<std::string>{
                "No user with MAC ZZ is online.", "No user with MAC  is online.",
                "The user with MAC AA is not blocked.", "An AFS value runs from 0 to 100.",
                "An AFS value runs from 0 to 100.", "A block is by IP, MAC, name or address.",
                "The user with MAC AA is blocked already."}));
  // Unblock lifts whatever block the user has.
  EXPECT_TRUE(Unblock(0));
  EXPECT_EQ(server_->Users().Find("AA")->blockState, BlockState::kNone);
}

TEST_F(EngineTest, BlockAndUnblockWriteTheListAndTheRecord) {
  Start();
  auto a = Login("AA", "alice", "10.0.0.1");
  auto b = Login("BB", "bob");

  ASSERT_TRUE(Block(0, BlockState::kIp));
  EXPECT_EQ(server_->Users().Find("AA")->blockState, BlockState::kIp);
  EXPECT_TRUE(view_.HasLine("S30 10.0.0.1"));
  EXPECT_EQ(view_.rows[0].blockText, "IP");
  EXPECT_NE(ReadFile("data/blocklist.cfg").find("10.0.0.1=1"), std::string::npos);

  // Blocking does not disconnect; the next packet is refused.
  ClearOutputs();
  Receive(a, Packet("AA", "alice", 5, "still here?", "10.0.0.1"));
  EXPECT_FALSE(a->closed);
  EXPECT_TRUE(b->Sent().empty());

  ASSERT_TRUE(Unblock(0)) << ::testing::PrintToString(refusals_);
  EXPECT_EQ(server_->Users().Find("AA")->blockState, BlockState::kNone);
  EXPECT_TRUE(view_.HasLine("S33 10.0.0.1")) << ::testing::PrintToString(view_.Unstamped());
  const std::string list = ReadFile("data/blocklist.cfg");
  EXPECT_NE(list.find("10.0.0.1="), std::string::npos);
  EXPECT_EQ(list.find("10.0.0.1=1"), std::string::npos);
  b->outputs.clear();
  Receive(a, Packet("AA", "alice", 5, "back", "10.0.0.1"));
  EXPECT_EQ(b->Sent().size(), 1u);

  // By name, then by MAC: each sets its state and its line; unblock by name frees the user.
  ASSERT_TRUE(Block(1, BlockState::kName));
  EXPECT_EQ(server_->Users().Find("BB")->blockState, BlockState::kName);
  EXPECT_TRUE(view_.HasLine("S32 bob"));
  ASSERT_TRUE(Unblock(1));
  EXPECT_TRUE(view_.HasLine("S35 bob"));
  ASSERT_TRUE(Block(1, BlockState::kMac));
  EXPECT_TRUE(view_.HasLine("S31 BB"));
  EXPECT_NE(ReadFile("data/blocklist.cfg").find("BB=1"), std::string::npos);

  // After unblocking the IP, a MAC entry of the same user is still in force.
  Unblock(1);
  ASSERT_TRUE(Block(1, BlockState::kMac));
  ASSERT_TRUE(Unblock(1));
  Block(1, BlockState::kIp);
  Unblock(1);
  WriteFile("data/blocklist.cfg", "[LIST]\nBB=1\n");
  Receive(b, Packet("BB", "bob", 5, "hi"));
  EXPECT_EQ(server_->Users().Find("BB")->blockState, BlockState::kMac);
}

// Block keys share one list and partly come from what clients claim. A block by IP stores
// the connection's own address, and the reported IP only when it is nobody else's; every
// block names the other users online it refuses too.
TEST_F(EngineTest, BlocksStoreWhatCannotHitAnotherUserAndSayWhomTheyRefuse) {
  Start();
  auto alice = Login("AA", "alice", "10.0.0.1");
  auto carol = Connect("192.168.1.30");
  Receive(carol, Packet("CC", "carol", 4, "1:online", "10.0.0.3"));
  ASSERT_TRUE(Block(1, BlockState::kIp));
  EXPECT_TRUE(view_.HasLine("S30 10.0.0.3 (connection address 192.168.1.30 blocked too)"))
      << ::testing::PrintToString(view_.Unstamped());
  ASSERT_EQ(view_.rows.size(), 2u);
  EXPECT_EQ(view_.rows[0].blockText, "");
  EXPECT_EQ(view_.rows[1].blockText, "IP + address");
  ASSERT_TRUE(Unblock(1));
  EXPECT_TRUE(view_.HasLine("S33 10.0.0.3 (connection address 192.168.1.30 unblocked too)"));

  // Mallory reports alice's address, then a text that is no address: only her own
  // connection's address is stored, and alice goes on chatting.
  auto mallory = Connect("192.168.1.40");
  Receive(mallory, Packet("MM", "mallory", 4, "1:online", "10.0.0.1"));
  ASSERT_TRUE(Block(2, BlockState::kIp));
  EXPECT_TRUE(view_.HasLine(
      "S30 192.168.1.40 (the reported IP 10.0.0.1 is not blocked: alice comes from it)"))
      << ::testing::PrintToString(view_.Unstamped());
  EXPECT_EQ(ReadFile("data/blocklist.cfg").find("10.0.0.1="), std::string::npos);
  auto bob = Login("BB", "bob", "10.0.0.2");
  ClearOutputs();
  Receive(alice, Packet("AA", "alice", 5, "still here", "10.0.0.1"));
  EXPECT_EQ(bob->Sent().size(), 1u);
  ASSERT_TRUE(Unblock(2));
  auto other = Connect("192.168.1.41");
  Receive(other, Packet("OO", "oscar", 4, "1:online", "MACbob"));
  ASSERT_TRUE(Block(4, BlockState::kIp));
  EXPECT_TRUE(view_.HasLine(
      "S30 192.168.1.41 (the reported IP MACbob is not blocked: it is no IPv4 address)"));

  // A name that is somebody's address: the block is written as asked, and the line says
  // whom else it refuses.
  auto eve = Connect("192.168.1.50");
  Receive(eve, Packet("EE", "10.0.0.2", 4, "1:online", "192.168.1.50"));
  ASSERT_TRUE(Block(5, BlockState::kName));
  EXPECT_TRUE(view_.HasLine("S32 10.0.0.2; this also refuses bob (10.0.0.2)"))
      << ::testing::PrintToString(view_.Unstamped());
  ASSERT_TRUE(Unblock(5));

  // By the connection's address alone.
  ASSERT_TRUE(Block(5, BlockState::kAddress));
  EXPECT_TRUE(view_.HasLine("Blocked by connection address: 192.168.1.50"));
  EXPECT_EQ(server_->Users().Find("EE")->blockState, BlockState::kAddress);
  EXPECT_EQ(view_.rows[5].blockText, "address");
  ASSERT_TRUE(Unblock(5));
  EXPECT_TRUE(view_.HasLine("Unblocked connection address: 192.168.1.50"));
  EXPECT_EQ(server_->Users().Find("EE")->blockState, BlockState::kNone);

  // A user refused by the address its connection comes from is blocked by address.
  WriteFile("data/blocklist.cfg", "[LIST]\n192.168.1.60=1\n");
  auto dora = Connect("192.168.1.60");
  Receive(dora, Packet("DD", "dora", 4, "1:online", "10.0.0.4"));
  EXPECT_EQ(server_->Users().Find("DD")->blockState, BlockState::kAddress);
  EXPECT_TRUE(view_.HasLine("Refused a user whose connection address is blocked: 192.168.1.60"));
}

TEST_F(EngineTest, BlockWithoutDataFolderStillHoldsAndSaysTheListWasNotWritten) {
  std::filesystem::remove_all(workDir_ / "data");
  Start();
  auto a = Login("AA", "alice");
  ASSERT_TRUE(Block(0, BlockState::kName));
  EXPECT_EQ(server_->Users().Find("AA")->blockState, BlockState::kName);
  EXPECT_FALSE(std::filesystem::exists(workDir_ / "data"));
  bool said = false;
  for (const auto& line : view_.Unstamped())
    said |= line.find("could not be written") != std::string::npos;
  EXPECT_TRUE(said);
}

TEST_F(EngineTest, SetAfsStoresSendsAndSurvivesReconnection) {
  Start();
  auto a = Login("AA", "", "10.0.0.1");
  ClearOutputs();
  const int rowUpdates = view_.rowUpdates;
  ASSERT_TRUE(SetAfs(0, 0));
  EXPECT_TRUE(view_.HasLine("ADMIN: Set AFS=0 to 'n/a (10.0.0.1)'"));
  // The row shows the value at once, not at the next refresh.
  EXPECT_EQ(view_.rowUpdates, rowUpdates + 1);
  ASSERT_EQ(view_.rows.size(), 1u);
  EXPECT_EQ(view_.rows[0].afs, 0);
  ASSERT_EQ(a->Sent().size(), 1u);
  EXPECT_EQ(Decode(a->Sent()[0]).type, 45);
  EXPECT_EQ(Decode(a->Sent()[0]).body, "1:0");
  EXPECT_NE(ReadFile("data/afs.cfg").find("AA=0"), std::string::npos);

  server_->OnPeerClosed(*a);
  auto again = Login("AA", "alice");
  EXPECT_EQ(server_->Users().Find("AA")->afs, 0);
}

}  // namespace
}  // namespace orv::testing
