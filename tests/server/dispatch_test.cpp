// What the dispatcher does with each packet type, and how blocked senders are refused.
#include <gmock/gmock.h>

#include <algorithm>

#include "engine_fixture.h"
#include "support/temp_folder.h"

namespace orv::testing {
namespace {

using ::testing::ElementsAre;

// Counts "[IUL]" entries in a list block.
int Entries(const std::string& body) {
  int n = 0;
  for (std::size_t at = body.find("[IUL]"); at != std::string::npos;
       at = body.find("[IUL]", at + 1)) {
    ++n;
  }
  return n;
}

TEST_F(EngineTest, StatusPacketsFillTheRecord) {
  WriteFile("data/afs.cfg", "[LIST]\nAA=25\n");
  Start();
  auto a = Connect("192.168.7.7");
  Receive(a, Packet("AA", "alice", 4, "3:away for lunch", "10.1.1.1"));
  const UserRecord* record = server_->Users().Find("AA");
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->name, "alice");
  EXPECT_EQ(record->reportedIp, "10.1.1.1");
  EXPECT_EQ(record->peerAddress, "192.168.7.7");
  EXPECT_EQ(record->lastCode, 3);
  EXPECT_EQ(record->lastText, "away for lunch");
  EXPECT_EQ(record->afs, 25);
  EXPECT_EQ(record->avatar, "av.gif");

  // Other types keep the status and the AFS value; an empty text or a code of 0 keep theirs.
  Receive(a, Packet("AA", "alice", 5, "hi"));
  Receive(a, Packet("AA", "alice", 7, "0:"));
  record = server_->Users().Find("AA");
  EXPECT_EQ(record->lastCode, 3);
  EXPECT_EQ(record->lastText, "away for lunch");
  EXPECT_EQ(record->afs, 25);

  Receive(a, Packet("AA", "alice", 25, "1:x"));
  EXPECT_TRUE(server_->Users().Find("AA")->stateFlag);
  Receive(a, Packet("AA", "alice", 34, "1:x"));
  EXPECT_FALSE(server_->Users().Find("AA")->stateFlag);

  // A new record made by a non-status packet has no AFS of its own.
  Receive(a, Packet("ZZ", "zed", 5, "hi"));
  EXPECT_EQ(server_->Users().Find("ZZ")->afs, -1);
}

TEST_F(EngineTest, AnnouncementIsAnsweredWithTheUserListInBlocksOfFive) {
  Start();
  for (int i = 0; i < 6; ++i)
    Login("M" + std::to_string(i), "user" + std::to_string(i));
  auto newcomer = Connect();
  ClearOutputs();
  const std::string hello = Packet("NEW", "newbie", 2, "1:hello");
  Receive(newcomer, hello);
  const auto seen = DecodedSent(*newcomer);
  ASSERT_EQ(seen.size(), 3u);  // two list blocks, then the relay of the packet itself
  EXPECT_EQ(seen[0].type, 37);
  EXPECT_EQ(seen[0].subject, "NEW");
  EXPECT_EQ(Entries(seen[0].body), 5);
  EXPECT_EQ(Entries(seen[1].body), 2);
  EXPECT_EQ(newcomer->Sent()[2], hello);
  EXPECT_NE(seen[1].body.find("[IUL]|U1|newbie|/U1||U2|NEW|/U2||U3|192.168.1.20|/U3||U4|hello|/U4|"
                              "|U5|av.gif|/U5||U6|1|/U6||U7|0|/U7|[/IUL]"),
            std::string::npos)
      << seen[1].body;
}

TEST_F(EngineTest, EmptyTableAnswerIsOneEmptyBlockAndInvalidEntriesAreSkipped) {
  Start();
  auto a = Connect();
  a->outputs.clear();
  // A sender without a name is left out of the list.
  Receive(a, Packet("AA", "", 2, "1:x"));
  const auto seen = DecodedSent(*a);
  ASSERT_GE(seen.size(), 1u);
  EXPECT_EQ(seen[0].type, 37);
  EXPECT_EQ(seen[0].body, "1:");
}

TEST_F(EngineTest, CommandToTheServerIsAnsweredThenRelayed) {
  Start();
  auto a = Login("AA", "alice");
  auto b = Login("BB", "bob");
  ClearOutputs();
  const std::string ask = Packet("AA", "alice", 5, "Srv: help ");
  Receive(a, ask);
  ASSERT_EQ(a->outputs.size(), 3u);
  EXPECT_EQ(Decode(a->outputs[0].bytes).type, 6);
  EXPECT_EQ(Decode(a->outputs[0].bytes).body, "1:Use the force");
  EXPECT_EQ(Decode(a->outputs[0].bytes).subject, "AA");
  EXPECT_EQ(a->outputs[1].kind, Output::kHold);
  EXPECT_EQ(a->outputs[2].bytes, ask);
  EXPECT_THAT(b->Sent(), ElementsAre(ask));

  // Unknown word, or the name not at the start of the body: no answer, still relayed.
  ClearOutputs();
  Receive(a, Packet("AA", "alice", 5, "Srv: nothing"));
  Receive(a, Packet("AA", "alice", 5, "hey Srv: help"));
  EXPECT_EQ(a->Sent().size(), 2u);
  EXPECT_EQ(b->Sent().size(), 2u);
}

TEST_F(EngineTest, ProfileRequestToTheServerIsAnswered) {
  Start();
  auto a = Login("AA", "alice");
  ClearOutputs();
  Receive(a, Packet("AA", "alice", 14, "Srv"));
  ASSERT_GE(a->outputs.size(), 3u);
  const Seen profile = Decode(a->outputs[0].bytes);
  EXPECT_EQ(profile.type, 15);
  EXPECT_EQ(
      profile.body,
      "1:|NAME|Srv|/NAME||AVATAR|server.gif|/AVATAR||IP|10.9.8.7|/IP|"
      "|MAC|1098710987|/MAC||DESC|A test server|/DESC||WWW|www|/WWW|"
      "|EMAIL|mail|/EMAIL||VERSION|ORV Chat Server 1.3.1.0 beta|/VERSION||MODE|mode|/MODE|"
      "|SKINTHEME|-|/SKINTHEME||COMPNAME|-|/COMPNAME||SYSNAME|-|/SYSNAME||ACTIVEW|-|/ACTIVEW|");
  EXPECT_EQ(a->outputs[1].kind, Output::kHold);

  // A profile request to somebody else is only relayed.
  ClearOutputs();
  Receive(a, Packet("AA", "alice", 14, "bob"));
  EXPECT_EQ(a->Sent().size(), 1u);
}

// Listening on every address, the server is known to each client by the address that client
// reached (and that interface's MAC), never by an empty "()".
TEST_F(EngineTest, WithoutServerIpEachClientHearsTheAddressItReached) {
  serverIp_.clear();
  WriteSettings();
  SetMessage("ServerWelcomeMessage", "Welcome");
  Start();
  EXPECT_TRUE(
      view_.HasLine("Listening on every address of this machine; clients connect to "
                    "192.168.5.1:5000, 10.1.1.1:5000"));
  EXPECT_EQ(view_.status.clientAddresses, (std::vector<std::string>{"192.168.5.1", "10.1.1.1"}));
  auto lan = std::make_shared<FakeConnection>(nextKey_++, "192.168.5.9", scheduler_);
  lan->local = "192.168.5.1";
  auto local = std::make_shared<FakeConnection>(nextKey_++, "127.0.0.1", scheduler_);
  connections_ = {lan, local};
  server_->OnAccepted(lan);
  server_->OnAccepted(local);
  Settle();
  ASSERT_FALSE(lan->Sent().empty());
  EXPECT_EQ(Decode(lan->Sent().front()).ip, "192.168.5.1");
  // The lookup finds no MAC here: the address's digits twice stand in, as for ServerIP.
  EXPECT_EQ(Decode(lan->Sent().front()).mac, "1921685119216851");
  EXPECT_EQ(Decode(local->Sent().front()).ip, "127.0.0.1");

  ClearOutputs();
  Send("hello all");
  ASSERT_EQ(lan->Sent().size(), 1u);
  ASSERT_EQ(local->Sent().size(), 1u);
  EXPECT_EQ(Decode(lan->Sent()[0]).ip, "192.168.5.1");
  EXPECT_EQ(Decode(local->Sent()[0]).ip, "127.0.0.1");
  EXPECT_EQ(Decode(local->Sent()[0]).mac, "127001127001");
  EXPECT_EQ(Decode(local->Sent()[0]).body, "1:hello all");

  Receive(lan, Packet("AA", "alice", 14, "Srv"));
  ASSERT_GE(lan->Sent().size(), 2u);
  const Seen profile = Decode(lan->Sent()[1]);
  EXPECT_EQ(profile.type, 15);
  EXPECT_NE(profile.body.find("|IP|192.168.5.1|/IP||MAC|1921685119216851|/MAC|"), std::string::npos)
      << profile.body;
}

// What only the server sends, no client may send: not relayed, not acted on, and the
// operator hears of it now and then.
TEST_F(EngineTest, PacketsPosingAsTheServerAreNotRelayed) {
  Start();
  auto a = Login("AA", "alice");
  auto m = Login("MM", "mallory", "192.168.1.66");
  ClearOutputs();
  for (const int type : {6, 15, 37, 45})
    Receive(m, Packet("MM", "mallory", type, "1:0"));
  // Under the server's MAC (the address's digits twice here: no MAC was found for it).
  Receive(m, Packet("1098710987", "Srv", 5, "the server moves, log in again at 6.6.6.6"));
  EXPECT_TRUE(a->Sent().empty());
  EXPECT_EQ(server_->Users().Find("1098710987"), nullptr);
  EXPECT_EQ(view_.CountLines("not relayed"), 1);
  EXPECT_TRUE(view_.HasLine("Packet from 192.168.1.66 not relayed: type 6 is the server's own"));
  scheduler_.Advance(60000);
  EXPECT_TRUE(view_.HasLine(
      "... and 4 more packets posing as the server from 192.168.1.66 in the last minute"));
  // Everything else goes on as before.
  a->outputs.clear();
  Receive(m, Packet("MM", "mallory", 5, "hi"));
  EXPECT_EQ(a->Sent().size(), 1u);
}

// A MAC is what the client says: when one registers from another machine than it last did,
// the operator is told.
TEST_F(EngineTest, AMacFromAnotherAddressThanLastTimeIsTold) {
  Start();
  auto first = Login("AA", "alice", "192.168.1.20");
  server_->OnPeerClosed(*first);
  auto again = Login("AA", "alice", "192.168.1.20");
  server_->OnPeerClosed(*again);
  EXPECT_EQ(view_.CountLines("registers from"), 0);
  auto elsewhere = Login("AA", "alice", "192.168.1.99");
  EXPECT_TRUE(view_.HasLine("MAC AA registers from 192.168.1.99; it last came from 192.168.1.20"));
}

TEST_F(EngineTest, BlockedSendersAreRefusedWhateverTheyWrite) {
  WriteFile("data/blocklist.cfg", "[LIST]\n192.168.1.66=1\nmallory=1\n");
  Start();
  auto other = Login("BB", "bob");
  auto m = Connect();
  ClearOutputs();

  // Listed by IP and by name: refused as blocked by IP, console line once.
  Receive(m, Packet("MM", "mallory", 4, "1:hi", "192.168.1.66"));
  EXPECT_EQ(server_->Users().Find("MM")->blockState, BlockState::kIp);
  EXPECT_TRUE(view_.HasLine("S27 192.168.1.66"));
  ASSERT_EQ(m->outputs.size(), 2u);
  EXPECT_EQ(Decode(m->outputs[0].bytes).body, "1:Blocked");
  EXPECT_EQ(Decode(m->outputs[0].bytes).subject, "MM");
  EXPECT_EQ(m->outputs[1].kind, Output::kHold);
  EXPECT_TRUE(other->Sent().empty());

  // Chat, commands and profile requests of a blocked sender are refused too.
  view_.console.clear();
  Receive(m, Packet("MM", "mallory", 5, "spam"));
  Receive(m, Packet("MM", "mallory", 5, "Srv: help"));
  Receive(m, Packet("MM", "mallory", 14, "Srv"));
  Receive(m, Packet("MM", "mallory", 14, "bob"));
  EXPECT_TRUE(other->Sent().empty());
  for (const Seen& seen : DecodedSent(*m))
    EXPECT_EQ(seen.body, "1:Blocked");
  EXPECT_FALSE(view_.HasLine("S27 192.168.1.66"));

  // A name entry matches in other letter case; without a block message nothing is sent.
  SetMessage("ServerBlockMessage", "");
  auto n = Connect("192.168.1.21");
  n->outputs.clear();
  other->outputs.clear();
  Receive(n, Packet("NN", "MALLORY", 5, "hi", "10.0.0.2"));
  EXPECT_EQ(server_->Users().Find("NN")->blockState, BlockState::kName);
  EXPECT_TRUE(view_.HasLine("S29 MALLORY"));
  EXPECT_TRUE(n->outputs.empty());
  EXPECT_TRUE(other->Sent().empty());
}

TEST_F(EngineTest, BoardFilesAreWrittenOnlyInsideTheBoardFolder) {
  Start();
  auto a = Login("AA", "alice");
  auto b = Login("BB", "bob");
  ClearOutputs();
  Receive(a, Packet("AA", "alice", 16, "notes.txt;line one;still content"));
  EXPECT_EQ(ReadFile("board/notes.txt"), "line one;still content");
  EXPECT_EQ(b->Sent().size(), 1u);

  for (const char* name : {"../evil.txt", "..", "sub/x.txt", "c:x.txt", "a\\b.txt", ""}) {
    Receive(a, Packet("AA", "alice", 16, std::string(name) + ";bad"));
  }
  EXPECT_FALSE(std::filesystem::exists(workDir_ / "evil.txt"));
  EXPECT_FALSE(std::filesystem::exists(workDir_ / "board" / "sub"));
  EXPECT_EQ(b->Sent().size(), 7u);  // every packet is relayed all the same
  // One line a minute for a connection; the rest are counted when the minute is over.
  EXPECT_TRUE(view_.HasLine(
      "Board file '../evil.txt' from 192.168.1.20 refused: its name would leave board/"));
  EXPECT_EQ(std::count_if(view_.console.begin(), view_.console.end(),
                          [](const std::string& l) { return l.find("Board file") != l.npos; }),
            1);
  scheduler_.Advance(60000);
  EXPECT_TRUE(
      view_.HasLine("... and 5 more refused board files from 192.168.1.20 in the last minute"));

  // No ";": nothing written.
  Receive(a, Packet("AA", "alice", 16, "nosemicolon"));
  EXPECT_FALSE(std::filesystem::exists(workDir_ / "board" / "nosemicolon"));
}

TEST_F(EngineTest, BoardFilesStayWithinTheirLimits) {
  WriteFile("orvchatserver.cfg", ReadFile("orvchatserver.cfg") +
                                     "<BoardQuota>\n12288\n</BoardQuota>\n"
                                     "<BoardFileLimit>\n100\n</BoardFileLimit>\n");
  Start();
  auto a = Login("AA", "alice");
  auto b = Login("BB", "bob", "192.168.1.21");

  // Too large for one file; a name no file system takes; then the quota, where every file
  // counts as at least 4096 bytes, so empty files fill it too.
  Receive(a, Packet("AA", "alice", 16, "big.txt;" + std::string(101, 'x')));
  Receive(b, Packet("BB", "bob", 16, std::string(300, 'n') + ";x", "192.168.1.21"));
  for (int i = 0; i < 5; ++i)
    Receive(a, Packet("AA", "alice", 16, "f" + std::to_string(i) + ";"));
  EXPECT_FALSE(std::filesystem::exists(workDir_ / "board" / "big.txt"));
  EXPECT_TRUE(
      view_.HasLine("Board file 'big.txt' from 192.168.1.20 refused: it is larger than 100 bytes "
                    "(BoardFileLimit)"));
  // The name is cut short on the console, saying how much was left out.
  EXPECT_TRUE(view_.HasLine("Board file '" + std::string(64, 'n') +
                            "...[+236 bytes]' from 192.168.1.21 refused: its name is longer "
                            "than 255 bytes"));
  EXPECT_EQ(FolderEntries(workDir_ / "board"), (std::vector<std::string>{"f0", "f1", "f2"}));

  // Replacing a file that is there already needs no more room.
  Receive(a, Packet("AA", "alice", 16, "f1;" + std::string(100, 'y')));
  EXPECT_EQ(ReadFile("board/f1"), std::string(100, 'y'));
  // Files removed by hand make room again.
  std::filesystem::remove(workDir_ / "board" / "f0");
  for (int i = 0; i < 70; ++i)  // the folder is measured again after some refusals
    Receive(a, Packet("AA", "alice", 16, "late;"));
  EXPECT_TRUE(std::filesystem::exists(workDir_ / "board" / "late"));
}

TEST_F(EngineTest, ServerInjectedPacketsRunWithoutSends) {
  Start();
  auto a = Login("AA", "alice");
  ClearOutputs();
  EXPECT_EQ(server_->Dispatch(Packet("SRVMAC", "Srv", 2, "1:x"), nullptr), Dispatched::kRelayed);
  EXPECT_TRUE(a->Sent().empty());
  EXPECT_EQ(server_->Users().Find("SRVMAC"), nullptr);
}

}  // namespace
}  // namespace orv::testing
