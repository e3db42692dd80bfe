// Clients that try to pass for somebody else: another user's MAC, a new reported IP after a
// block, the server's own address and name. And operator commands for a row whose user left.
#include <gtest/gtest.h>

#include "e2e_support.h"

namespace orv::e2e {
namespace {

fs::path BlockListFile(const RunningServer& server) {
  return server.folder.Dir() / "data" / "blocklist.cfg";
}

// The row number of the listed user with this MAC, or -1.
int RowOf(const std::vector<std::string>& rows, const std::string& mac) {
  for (const std::string& row : rows) {
    if (row.find(" " + mac + " ") != std::string::npos) return std::atoi(row.c_str());
  }
  return -1;
}

bool HasPacketFrom(const Client& client, const std::string& name) {
  return std::any_of(client.Packets().begin(), client.Packets().end(),
                     [&name](const Packet& p) { return p.name == name; });
}

TEST(AbuseTest, AMacInUseIsNotTakenOverFromAnotherMachine) {
  RunningServer server;
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  ServerProcess& console = *server.process;
  Client alice(server.Port());
  Client bob(server.Port());
  ASSERT_TRUE(alice.WaitForType(6) && bob.WaitForType(6));
  ASSERT_TRUE(alice.Send(MakePacket("AA01", "alice", 2, "1:online")));
  ASSERT_TRUE(bob.WaitForType(2));

  std::size_t mark = console.LineCount();
  {
    // Another loopback address stands for another machine.
    Client intruder(server.Port(), 0, WireCodec::BuiltIn(), "127.0.0.2");
    ASSERT_TRUE(intruder.WaitForType(6));
    bob.Clear();
    ASSERT_TRUE(intruder.Send(MakePacket("AA01", "mallory", 2, "1:it is me now") +
                              MakePacket("AA01", "mallory", 5, "hello from alice")));
    EXPECT_TRUE(console.WaitForLine(
        "Packet from 127.0.0.2 refused: MAC AA01 belongs to the connection from 127.0.0.1",
        milliseconds(5000), mark))
        << console.Transcript();
    bob.Pump(milliseconds(300));
    EXPECT_FALSE(HasPacketFrom(bob, "mallory"));
    const auto rows = console.ListUsers();
    ASSERT_EQ(rows.size(), 1u) << console.Transcript();
    EXPECT_NE(rows[0].find("alice"), std::string::npos) << rows[0];
    EXPECT_EQ(rows[0].find("mallory"), std::string::npos) << rows[0];
    mark = console.LineCount();
  }
  // The intruder's leaving takes nobody's user with it.
  ASSERT_TRUE(console.WaitForLine("Connection closed", milliseconds(5000), mark));
  EXPECT_TRUE(console.WaitForLine("Users connected: 1", milliseconds(3000), mark))
      << console.Transcript();
  const auto rows = console.ListUsers();
  ASSERT_EQ(rows.size(), 1u) << console.Transcript();
  EXPECT_NE(rows[0].find("AA01"), std::string::npos) << rows[0];

  // Alice's record still leads to alice: the refresh sends her AFS value to her.
  alice.Clear();
  console.Type("/refresh");
  auto afs = alice.WaitForType(45);
  ASSERT_TRUE(afs) << console.Transcript();
  EXPECT_EQ(afs->body, "1:15");
  ASSERT_TRUE(alice.Send(MakePacket("AA01", "alice", 5, "still me")));
  auto said = bob.WaitFor([](const Packet& p) { return p.body == "still me"; });
  ASSERT_TRUE(said);
  EXPECT_EQ(said->name, "alice");
}

// A client that crashed, lost its link or slept comes back before the server has noticed
// its old connection is dead: from the same machine it is served at once.
TEST(AbuseTest, AClientThatComesBackFromTheSameMachineIsServedAtOnce) {
  RunningServer server;
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  ServerProcess& console = *server.process;
  Client bob(server.Port());
  ASSERT_TRUE(bob.WaitForType(6));
  Client before(server.Port());  // never closed: its process hangs on to the socket
  ASSERT_TRUE(before.Send(MakePacket("AA01", "alice", 2, "1:online")));
  ASSERT_TRUE(before.WaitForType(37));
  const std::size_t mark = console.LineCount();
  Client after(server.Port());
  ASSERT_TRUE(after.Send(MakePacket("AA01", "alice", 2, "1:back")));
  auto list = after.WaitForType(37, milliseconds(3000));
  ASSERT_TRUE(list) << console.Transcript();
  EXPECT_NE(list->body.find("|U2|AA01|/U2|"), std::string::npos) << *list;
  EXPECT_TRUE(before.WaitClosed(milliseconds(3000)));
  EXPECT_TRUE(console.WaitForLine("MAC AA01 came back from 127.0.0.1 on connection",
                                  milliseconds(3000), mark))
      << console.Transcript();
  bob.Clear();
  ASSERT_TRUE(after.Send(MakePacket("AA01", "alice", 5, "I am back")));
  auto said = bob.WaitFor([](const Packet& p) { return p.body == "I am back"; });
  ASSERT_TRUE(said);
  const auto rows = console.ListUsers();
  ASSERT_EQ(rows.size(), 1u) << console.Transcript();
}

// A client cannot pass for the server, nor put users who do not exist into everybody's
// list, nor keep the operator from seeing its MAC turn up on another machine.
TEST(AbuseTest, NoClientPassesForTheServerOrAddsUsersToTheList) {
  RunningServer server;
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  ServerProcess& console = *server.process;
  Client bob(server.Port());
  ASSERT_TRUE(bob.WaitForType(6));
  ASSERT_TRUE(bob.Send(MakePacket("BB02", "bob", 2, "1:online")));
  ASSERT_TRUE(bob.WaitForType(37));
  const std::string serverMac = "127001127001";  // 127.0.0.1 twice: loopback has no MAC
  {
    Client mallory(server.Port(), 0, WireCodec::BuiltIn(), "127.0.0.3");
    ASSERT_TRUE(mallory.WaitForType(6));
    bob.Pump(milliseconds(100));
    bob.Clear();
    const std::string forged = "127.0.0.1(" + serverMac +
                               ")||OrvServer||server.gif||0.0||1||6||1:the server moves, "
                               "log in again at 10.6.6.6//end";
    ASSERT_TRUE(mallory.Send(forged + MakePacket("MM01", "mallory", 45, "1:0") +
                             MakePacket("MM01", "mallory", 37, "[IUL]|U1|x|/U1|[/IUL]") +
                             MakePacket("MM01", "mallory", 15, "1:|NAME|OrvServer|/NAME|")));
    // A status holding the list's markers: a ghost with bob's MAC.
    ASSERT_TRUE(mallory.Send(MakePacket(
        "MM01", "mallory", 2, "1:[/IUL][IUL]|U1|GHOST-ADMIN|/U1||U2|BB02|/U2||U3|1.2.3.4|/U3|")));
    ASSERT_TRUE(mallory.WaitForType(37));
    ASSERT_TRUE(bob.WaitFor([](const Packet& p) { return p.type == 2 && p.name == "mallory"; }));
    for (const Packet& packet : bob.Packets()) {
      EXPECT_NE(packet.type, 6) << packet;
      EXPECT_NE(packet.type, 15) << packet;
      EXPECT_NE(packet.type, 37) << packet;
      EXPECT_NE(packet.type, 45) << packet;
    }
    EXPECT_TRUE(console.WaitForLine("not relayed: type 6 is the server's own", milliseconds(3000)))
        << console.Transcript();
    for (const std::string& row : console.ListUsers())
      EXPECT_EQ(row.find(serverMac), std::string::npos) << row;

    // A newcomer's list holds bob and mallory, and no ghost.
    Client carol(server.Port());
    ASSERT_TRUE(carol.Send(MakePacket("CC03", "carol", 2, "1:online")));
    std::string entries;
    const auto deadline = Clock::now() + milliseconds(3000);
    while (Clock::now() < deadline && entries.find("|U1|carol|/U1|") == std::string::npos) {
      carol.Pump(milliseconds(50));
      entries.clear();
      for (const Packet& p : carol.Packets()) {
        if (p.type == 37) entries += p.body;
      }
    }
    EXPECT_EQ(entries.find("GHOST-ADMIN|/U1|"), std::string::npos) << entries;
    std::size_t bobs = 0;
    for (auto at = entries.find("|U2|BB02|/U2|"); at != std::string::npos;
         at = entries.find("|U2|BB02|/U2|", at + 1))
      ++bobs;
    EXPECT_EQ(bobs, 1u) << entries;
  }
  // Mallory's MAC shows up from another machine: the operator is told.
  Client again(server.Port(), 0, WireCodec::BuiltIn(), "127.0.0.4");
  ASSERT_TRUE(console.WaitForLine("Users connected: 2", milliseconds(5000)));
  ASSERT_TRUE(again.Send(MakePacket("MM01", "mallory", 2, "1:back")));
  EXPECT_TRUE(console.WaitForLine("MAC MM01 registers from 127.0.0.4; it last came from 127.0.0.3",
                                  milliseconds(3000)))
      << console.Transcript();
}

// Block keys partly come from what clients claim: blocking one user must not block another.
TEST(AbuseTest, BlockingOneUserBlocksNobodyElse) {
  RunningServer server;
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  ServerProcess& console = *server.process;
  Client alice(server.Port());  // from 127.0.0.1
  ASSERT_TRUE(alice.Send(MakePacket("AA01", "alice", 2, "1:online", "127.0.0.1")));
  ASSERT_TRUE(alice.WaitForType(37));
  Client mallory(server.Port(), 0, WireCodec::BuiltIn(), "127.0.0.5");
  // Reports alice's address, and is named after it.
  ASSERT_TRUE(mallory.Send(MakePacket("MM01", "127.0.0.1", 2, "1:online", "127.0.0.1")));
  ASSERT_TRUE(mallory.WaitForType(37));
  int row = RowOf(console.ListUsers(), "MM01");
  ASSERT_GE(row, 0) << console.Transcript();
  std::size_t mark = console.LineCount();
  console.Type("/block ip " + std::to_string(row));
  EXPECT_TRUE(console.WaitForLine(
      "Blocked by IP: 127.0.0.5 (the reported IP 127.0.0.1 is not blocked: alice comes from it)",
      milliseconds(3000), mark))
      << console.Transcript();
  console.Type("/unblock " + std::to_string(row));
  ASSERT_TRUE(console.WaitForLine("Unblocked", milliseconds(3000), mark));
  mark = console.LineCount();
  console.Type("/block name " + std::to_string(row));
  EXPECT_TRUE(
      console.WaitForLine("; this also refuses alice (127.0.0.1)", milliseconds(3000), mark))
      << console.Transcript();
  console.Type("/unblock " + std::to_string(row));
  mark = console.LineCount();
  console.Type("/block address " + std::to_string(row));
  EXPECT_TRUE(
      console.WaitForLine("Blocked by connection address: 127.0.0.5", milliseconds(3000), mark))
      << console.Transcript();
  EXPECT_TRUE(WaitForFileText(BlockListFile(server), "127.0.0.5=1"));
  // Alice chats on; mallory is refused.
  Client bob(server.Port());
  ASSERT_TRUE(bob.WaitForType(6));
  bob.Clear();
  ASSERT_TRUE(alice.Send(MakePacket("AA01", "alice", 5, "still here", "127.0.0.1")));
  ASSERT_TRUE(mallory.Send(MakePacket("MM01", "127.0.0.1", 5, "me too", "127.0.0.1")));
  ASSERT_TRUE(bob.WaitFor([](const Packet& p) { return p.body == "still here"; }));
  bob.Pump(milliseconds(300));
  EXPECT_FALSE(bob.WaitFor([](const Packet& p) { return p.body == "me too"; }, milliseconds(10)));
}

TEST(AbuseTest, ABlockByIpHoldsWhateverAddressTheClientReportsNext) {
  RunningServer server;
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  ServerProcess& console = *server.process;
  Client bob(server.Port());  // only listens: it shares the blocked connection's address
  ASSERT_TRUE(bob.WaitForType(6));
  std::size_t mark = 0;
  {
    Client mallory(server.Port());
    ASSERT_TRUE(mallory.Send(MakePacket("MM01", "mallory", 2, "1:hi")));
    ASSERT_TRUE(mallory.WaitForType(37));
    const int row = RowOf(console.ListUsers(), "MM01");
    ASSERT_GE(row, 0) << console.Transcript();
    mark = console.LineCount();
    console.Type("/block ip " + std::to_string(row));
    // The line names the connection address the block refuses too.
    ASSERT_TRUE(
        console.WaitForLine("Blocked by IP: 10.0.0.7 (connection address 127.0.0.1 blocked too)",
                            milliseconds(3000), mark))
        << console.Transcript();
    const auto rows = console.ListUsers();
    ASSERT_GE(RowOf(rows, "MM01"), 0);
    EXPECT_NE(rows[RowOf(rows, "MM01")].find("IP + address"), std::string::npos)
        << rows[RowOf(rows, "MM01")];
    mark = console.LineCount();
  }
  ASSERT_TRUE(console.WaitForLine("Users connected: 0", milliseconds(5000), mark));
  EXPECT_TRUE(WaitForFileText(BlockListFile(server), "10.0.0.7=1"));
  EXPECT_TRUE(WaitForFileText(BlockListFile(server), "127.0.0.1=1"))
      << ReadFile(BlockListFile(server));

  // Back with another reported IP, MAC and name: refused all the same.
  Client again(server.Port());
  ASSERT_TRUE(again.WaitForType(6));
  again.Pump(milliseconds(550));
  again.Clear();
  bob.Clear();
  mark = console.LineCount();
  ASSERT_TRUE(again.Send(MakePacket("MM02", "mallory2", 2, "1:new me", "10.99.0.1")));
  auto refusal = again.WaitForType(6);
  ASSERT_TRUE(refusal) << console.Transcript();
  EXPECT_EQ(refusal->subject, "MM02");
  EXPECT_NE(refusal->body.find("blocked"), std::string::npos) << *refusal;
  EXPECT_FALSE(again.WaitForType(37, milliseconds(100)));
  EXPECT_TRUE(console.WaitForLine("Refused a user whose connection address is blocked: 127.0.0.1",
                                  milliseconds(3000), mark))
      << console.Transcript();
  const auto rows = console.ListUsers();
  ASSERT_GE(RowOf(rows, "MM02"), 0) << console.Transcript();
  EXPECT_NE(rows[RowOf(rows, "MM02")].find("  address"), std::string::npos)
      << rows[RowOf(rows, "MM02")];
  again.Pump(milliseconds(550));
  again.Clear();
  ASSERT_TRUE(again.Send(MakePacket("MM02", "mallory2", 5, "let me in", "10.99.0.1")));
  EXPECT_TRUE(again.WaitForType(6));
  bob.Pump(milliseconds(300));
  EXPECT_FALSE(HasPacketFrom(bob, "mallory2"));
}

TEST(AbuseTest, BlockedClientsClaimingTheServersAddressAndNameDoNotSilenceTheServer) {
  RunningServer server;
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  {
    ServerProcess& console = *server.process;
    Client bob(server.Port());
    ASSERT_TRUE(bob.WaitForType(6));
    {
      Client byName(server.Port());
      Client byIp(server.Port());
      ASSERT_TRUE(byName.Send(MakePacket("FA01", "OrvServer", 2, "1:I am the server")));
      ASSERT_TRUE(byIp.Send(MakePacket("FA02", "imposter", 2, "1:me too", "127.0.0.1")));
      ASSERT_TRUE(byName.WaitForType(37) && byIp.WaitForType(37));
      const auto rows = console.ListUsers();
      const int nameRow = RowOf(rows, "FA01");
      const int ipRow = RowOf(rows, "FA02");
      ASSERT_TRUE(nameRow >= 0 && ipRow >= 0) << console.Transcript();
      const std::size_t mark = console.LineCount();
      console.Type("/block name " + std::to_string(nameRow));
      console.Type("/block ip " + std::to_string(ipRow));
      ASSERT_TRUE(console.WaitForLine("Blocked by name: OrvServer", milliseconds(3000), mark));
      ASSERT_TRUE(console.WaitForLine("Blocked by IP: 127.0.0.1", milliseconds(3000), mark))
          << console.Transcript();
    }
    ASSERT_TRUE(WaitForFileText(BlockListFile(server), "OrvServer=1"));
    ASSERT_TRUE(WaitForFileText(BlockListFile(server), "127.0.0.1=1"))
        << ReadFile(BlockListFile(server));

    bob.Clear();
    console.Type("the operator speaks");
    auto said = bob.WaitForType(6);
    ASSERT_TRUE(said) << console.Transcript();
    EXPECT_EQ(said->body, "1:the operator speaks");
    EXPECT_EQ(said->name, "OrvServer");
    EXPECT_EQ(said->text.rfind("127.0.0.1(", 0), 0u) << *said;
    bob.Clear();
    console.Type("/exit");
    auto goodbye = bob.WaitForType(6);
    ASSERT_TRUE(goodbye);
    EXPECT_NE(goodbye->body.find("shutting down"), std::string::npos) << *goodbye;
    EXPECT_EQ(console.WaitExit(milliseconds(5000)), 0) << console.Transcript();
  }

  // The block list outlives the run: the next run on the same folder speaks all the same.
  server.Start();
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  Client carol(server.Port());
  auto welcome = carol.WaitForType(6);
  ASSERT_TRUE(welcome);
  EXPECT_EQ(welcome->body.rfind("1:Welcome", 0), 0u) << *welcome;
  carol.Clear();
  server.process->Type("after the restart");
  auto said = carol.WaitForType(6);
  ASSERT_TRUE(said) << server.process->Transcript();
  EXPECT_EQ(said->body, "1:after the restart");
  carol.Clear();
  server.process->Type("/exit");
  auto goodbye = carol.WaitForType(6);
  ASSERT_TRUE(goodbye);
  EXPECT_NE(goodbye->body.find("shutting down"), std::string::npos) << *goodbye;
  EXPECT_EQ(server.process->WaitExit(milliseconds(5000)), 0);
}

TEST(AbuseTest, ACommandForARowWhoseUserLeftHitsNobody) {
  RunningServer server;
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  ServerProcess& console = *server.process;
  auto alice = std::make_unique<Client>(server.Port());
  Client bob(server.Port());
  ASSERT_TRUE(alice->Send(MakePacket("AA01", "alice", 2, "1:online")));
  ASSERT_TRUE(alice->WaitForType(37));
  ASSERT_TRUE(bob.Send(MakePacket("BB02", "bob", 2, "1:online")));
  ASSERT_TRUE(bob.WaitForType(37));
  const auto rows = console.ListUsers();
  ASSERT_EQ(RowOf(rows, "AA01"), 0) << console.Transcript();
  ASSERT_EQ(RowOf(rows, "BB02"), 1) << console.Transcript();

  // Alice leaves: bob moves up to row 0 of the engine's list. Commands for the listing's row
  // 0 (alice) hit nobody; row 1 of the listing is still bob, wherever he is now.
  std::size_t mark = console.LineCount();
  alice.reset();
  ASSERT_TRUE(console.WaitForLine("Users connected: 1", milliseconds(5000), mark));
  bob.Pump(milliseconds(600));
  bob.Clear();
  mark = console.LineCount();
  console.Type("/kick 0");
  console.Type("/block mac 0");
  console.Type("/afs 0 50");
  EXPECT_TRUE(console.WaitForLines("Row 0 no longer holds the user with MAC AA01; look at the list",
                                   3, milliseconds(3000)))
      << console.Transcript();
  EXPECT_FALSE(bob.WaitClosed(milliseconds(700)));
  // No kick message, no AFS value of 50 (the list refresh may send bob the usual one).
  for (const Packet& packet : bob.Packets()) {
    EXPECT_NE(packet.type, 6) << packet;
    EXPECT_NE(packet.body, "1:50") << packet;
  }
  EXPECT_EQ(console.CountLines("Kicked user", mark), 0u);
  EXPECT_EQ(ReadFile(BlockListFile(server)).find("BB02"), std::string::npos);

  // The listing's row 1 is bob.
  console.Type("/kick 1");
  auto kick = bob.WaitForType(6);
  ASSERT_TRUE(kick);
  EXPECT_NE(kick->body.find("disconnected"), std::string::npos) << *kick;
  EXPECT_TRUE(bob.WaitClosed(milliseconds(3000)));
}

}  // namespace
}  // namespace orv::e2e
