// The operator's side of the headless server: commands on stdin, console lines on stdout,
// and the orderly stop on /exit and on SIGTERM.
#include <gtest/gtest.h>

#include "e2e_support.h"

namespace orv::e2e {
namespace {

TEST(OperatorTest, RefreshAfsUsersKickAndUnknownCommands) {
  RunningServer server;
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  ServerProcess& console = *server.process;
  Client alice(server.Port());
  Client bob(server.Port());
  ASSERT_TRUE(alice.WaitForType(6) && bob.WaitForType(6));
  ASSERT_TRUE(alice.Send(MakePacket("AA01", "alice", 4, "1:online")));
  ASSERT_TRUE(bob.WaitForType(4));

  // The list refresh sends every user its AFS value (the FloodStopper default here).
  alice.Clear();
  std::size_t mark = console.LineCount();
  console.Type("/refresh");
  EXPECT_TRUE(console.WaitForLine("Users connected: 1", milliseconds(3000), mark));
  auto afs = alice.WaitForType(45);
  ASSERT_TRUE(afs);
  EXPECT_EQ(afs->body, "1:15");

  mark = console.LineCount();
  console.Type("/users");
  auto row = console.WaitForLine("AA01", milliseconds(3000), mark);
  ASSERT_TRUE(row) << console.Transcript();
  EXPECT_NE(console.Lines()[*row].find("alice"), std::string::npos);
  EXPECT_NE(console.Lines()[*row].find("10.0.0.7"), std::string::npos);
  EXPECT_EQ(console.Lines()[*row].rfind("0 ", 0), 0u) << console.Lines()[*row];

  // A new default AFS value read by a reload reaches the users already online.
  SetTaggedValue(server.folder.Settings(), "FloodStopper", "25");
  mark = console.LineCount();
  console.Type("/reload");
  ASSERT_TRUE(console.WaitForLine("Settings reloaded", milliseconds(3000), mark))
      << console.Transcript();
  alice.Clear();
  console.Type("/refresh");
  afs = alice.WaitForType(45);
  ASSERT_TRUE(afs);
  EXPECT_EQ(afs->body, "1:25");

  alice.Clear();
  console.Type("/afs 0 20");
  afs = alice.WaitForType(45);
  ASSERT_TRUE(afs);
  EXPECT_EQ(afs->body, "1:20");

  // Refusals and mistakes say why and change nothing.
  mark = console.LineCount();
  console.Type("/kick 7");
  EXPECT_TRUE(console.WaitForLine("There was no row 7 in the last /users listing",
                                  milliseconds(3000), mark))
      << console.Transcript();
  mark = console.LineCount();
  console.Type("/afs 0 101");
  EXPECT_TRUE(console.WaitForLine("0 to 100", milliseconds(3000), mark));
  mark = console.LineCount();
  bob.Clear();
  console.Type("/shout hello");
  EXPECT_TRUE(console.WaitForLine("unknown command /shout", milliseconds(3000), mark));
  EXPECT_FALSE(bob.WaitForType(6, milliseconds(300)));

  // Typed text goes to everybody as a server message; "//" sends a leading slash.
  console.Type("//slash and all");
  auto said = bob.WaitForType(6);
  ASSERT_TRUE(said);
  EXPECT_EQ(said->body, "1:/slash and all");
  ASSERT_TRUE(alice.WaitFor([](const Packet& p) { return p.body == "1:/slash and all"; }));

  // The kick: the message, then the close, and the console says so.
  alice.Clear();
  mark = console.LineCount();
  console.Type("/kick 0");
  auto kick = alice.WaitForType(6);
  ASSERT_TRUE(kick);
  EXPECT_NE(kick->body.find("disconnected"), std::string::npos) << *kick;
  EXPECT_TRUE(alice.WaitClosed(milliseconds(3000)));
  EXPECT_GE(Clock::now() - kick->arrived, milliseconds(400));
  EXPECT_TRUE(console.WaitForLine("Kicked user at 10.0.0.7", milliseconds(3000), mark));
  EXPECT_TRUE(console.WaitForLine("Users connected: 0", milliseconds(3000), mark));

  console.Type("/exit");
  EXPECT_EQ(console.WaitExit(milliseconds(5000)), 0);
}

TEST(OperatorTest, ExitAndSigtermSendTheCloseMessageAndEndWithStatusZero) {
  for (const bool bySignal : {false, true}) {
    RunningServer server;
    ASSERT_TRUE(server.ready) << server.process->Transcript();
    Client alice(server.Port());
    Client bob(server.Port());
    ASSERT_TRUE(alice.WaitForType(6) && bob.WaitForType(6));
    alice.Clear();
    bob.Clear();
    const auto asked = Clock::now();
    if (bySignal) {
      server.process->Signal(SIGTERM);
    } else {
      server.process->Type("/exit");
    }
    for (Client* client : {&alice, &bob}) {
      auto goodbye = client->WaitForType(6);
      ASSERT_TRUE(goodbye) << bySignal;
      EXPECT_NE(goodbye->body.find("shutting down"), std::string::npos) << *goodbye;
      EXPECT_TRUE(client->WaitClosed(milliseconds(3000)));
    }
    EXPECT_EQ(server.process->WaitExit(milliseconds(5000)), 0) << server.process->Transcript();
    EXPECT_LT(Clock::now() - asked, milliseconds(3000));
    // The day's log ends with the stop line.
    std::string log;
    for (const auto& entry : fs::directory_iterator(server.folder.Dir() / "logs")) {
      log += ReadFile(entry.path());
    }
    EXPECT_NE(log.find("Server stopped"), std::string::npos);
  }
}

TEST(OperatorTest, EndOfInputDoesNotStopTheServer) {
  RunningServer server;
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  server.process->CloseStdin();
  EXPECT_FALSE(server.process->WaitExit(milliseconds(400)));
  Client alice(server.Port());
  EXPECT_TRUE(alice.WaitForType(6));
  server.process->Signal(SIGINT);
  EXPECT_EQ(server.process->WaitExit(milliseconds(5000)), 0);
}

}  // namespace
}  // namespace orv::e2e
