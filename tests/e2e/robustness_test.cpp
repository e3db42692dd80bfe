// The server under load and abuse: a client that stops reading, a burst of short
// connections, input that is not a packet at all, and signals while it starts.
#include <gtest/gtest.h>
#include <sys/inotify.h>

#include <random>

#include "e2e_support.h"

namespace orv::e2e {
namespace {

// True when a fresh client still gets the welcome and its own message back.
bool ServesAFreshClient(std::uint16_t port) {
  Client fresh(port);
  if (!fresh.WaitForType(6)) return false;
  fresh.Send(MakePacket("FRESH1", "fresh", 5, "still there?"));
  return fresh.WaitFor([](const Packet& p) { return p.body == "still there?"; }).has_value();
}

TEST(RobustnessTest, ASlowConsumerIsDroppedWhileTheOthersKeepChatting) {
  // Alice talks far faster than a person: the input rate would only slow the test down.
  RunningServer server({"--write-limit", "65536"},
                       [](WorkFolder& folder) { folder.Set("MaxInputRate", "0"); });
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  Client slow(server.Port(), 4096);
  Client alice(server.Port());
  Client bob(server.Port());
  ASSERT_TRUE(alice.WaitForType(6) && bob.WaitForType(6));

  // Alice talks in big packets; the slow client never reads.
  const std::string filler(3000, 'x');
  int sent = 0;
  std::optional<std::size_t> dropped;
  for (int i = 0; i < 2000 && !dropped; ++i) {
    const std::string body = std::to_string(i) + filler;
    ASSERT_TRUE(alice.Send(MakePacket("AA01", "alice", 5, body)));
    ++sent;
    // Alice waits for her own copy and Bob reads as we go, so that only the slow client falls
    // behind, however slowly a busy machine runs the server.
    ASSERT_TRUE(
        alice.WaitFor([&body](const Packet& p) { return p.body == body; }, milliseconds(5000)));
    alice.Clear();
    bob.Pump(milliseconds(2));
    if (i % 20 == 0) dropped = server.process->WaitForLine("does not read", milliseconds(1));
  }
  ASSERT_TRUE(dropped) << server.process->Transcript();

  // Everybody else got every packet, in order.
  ASSERT_TRUE(alice.Send(MakePacket("AA01", "alice", 5, "last")));
  ASSERT_TRUE(bob.WaitFor([](const Packet& p) { return p.body == "last"; }, milliseconds(5000)));
  int expected = 0;
  for (const Packet& packet : bob.Packets()) {
    if (packet.type != 5 || packet.body == "last") continue;
    EXPECT_EQ(packet.body, std::to_string(expected) + filler);
    ++expected;
  }
  EXPECT_EQ(expected, sent);
  // The slow client's connection is gone (after what its buffers held).
  EXPECT_TRUE(slow.WaitClosed(milliseconds(5000)));
  EXPECT_TRUE(ServesAFreshClient(server.Port()));
  server.process->Type("/exit");
  EXPECT_EQ(server.process->WaitExit(milliseconds(5000)), 0) << server.process->Transcript();
}

TEST(RobustnessTest, ManyShortConnectionsAndGarbageLeaveTheServerServing) {
  RunningServer server;
  ASSERT_TRUE(server.ready) << server.process->Transcript();

  for (int i = 0; i < 200; ++i) {
    Client client(server.Port());
    ASSERT_TRUE(client.Connected()) << i;
    if (i % 2 == 0) client.Send(MakePacket("C" + std::to_string(i), "c", 4, "1:x"));
  }

  std::mt19937 random(12345);
  std::vector<std::string> garbage = {
      "",
      "//end",
      "||||||||//end",
      "((((()))))||//end",
      "1.2.3.4(AA)||n||a||0.0||1||99999999999999999999||x//end",
      "1.2.3.4(AA)||n||a||0.0||1||16||;//end",
      "1.2.3.4(AA)||n||a||0.0||1||16||..;x//end",
      "1.2.3.4(AA)||n||a||0.0||1||16||" + std::string(5000, 'f') + ";x//end",
      "1.2.3.4(AA)||n||a||0.0||1||2||1:x//endabcd",
      std::string("a\0b//end", 8),
      "%s%s%s%n%n||%d//end",
      std::string(20000, '|'),
  };
  for (int i = 0; i < 20; ++i) {
    std::string noise(1 + random() % 6000, '\0');
    for (char& c : noise)
      c = static_cast<char>(random() % 256);
    garbage.push_back(noise);
  }
  for (const std::string& text : garbage) {
    Client client(server.Port());
    client.SendRaw(text);
    client.Send(text);  // the same through the substitution, so the framing is seen
    client.Pump(milliseconds(5));
  }
  // Everything the garbage clients sent is relayed to whoever is connected when the server
  // reads it, unterminated pieces included, and would run into the fresh client's first
  // packets; a slow (sanitizer) build may still be reading it. Start fresh once the server
  // has seen every one of those connections close (their console lines are counted, not
  // printed, past a few a minute: the status counts the connections).
  const auto deadline = Clock::now() + milliseconds(30000);
  bool closed = false;
  while (!closed && Clock::now() < deadline) {
    const std::size_t mark = server.process->LineCount();
    server.process->Type("/status");
    const auto line = server.process->WaitForLine("connections: ", milliseconds(3000), mark);
    closed = line && server.process->Lines()[*line] == "connections: 0";
    if (!closed) std::this_thread::sleep_for(milliseconds(100));
  }
  ASSERT_TRUE(closed) << server.process->Transcript();
  EXPECT_TRUE(ServesAFreshClient(server.Port())) << server.process->Transcript();
  server.process->Type("/exit");
  EXPECT_EQ(server.process->WaitExit(milliseconds(5000)), 0) << server.process->Transcript();
}

// A reload or stop signal that comes while the server is still starting neither kills it
// nor is lost: the reload is carried out once the server runs, the stop ends it in order.
// The signal is sent the moment the server opens its settings file (it runs its own code
// then), which is long enough to read to keep it starting for a while on any machine.
TEST(RobustnessTest, ASignalWhileTheServerStartsIsTakenOnceItRuns) {
  for (const int number : {SIGHUP, SIGTERM}) {
    WorkFolder folder;
    std::string comments;
    for (int i = 0; i < 100000; ++i)
      comments += "A comment line of a long settings file, number " + std::to_string(i) + "\n";
    WriteFile(folder.Settings(), ReadFile(folder.Settings()) + comments);
    const int watch = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, folder.Settings().c_str(), IN_OPEN), 0);
    ServerProcess server({"--headless", "-C", folder.Dir().string()});
    ASSERT_TRUE(server.Started());
    pollfd opened{watch, POLLIN, 0};
    ASSERT_EQ(::poll(&opened, 1, 10000), 1) << "the server never opened its settings";
    server.Signal(number);
    ::close(watch);
    if (number == SIGHUP) {
      EXPECT_TRUE(server.WaitForLine("Waiting for connections", milliseconds(30000)))
          << server.Transcript();
      EXPECT_TRUE(server.WaitForLine("Settings reloaded", milliseconds(30000)))
          << server.Transcript();
      EXPECT_FALSE(server.WaitExit(milliseconds(100)));
      Client client(folder.Port());
      EXPECT_TRUE(client.WaitForType(6)) << server.Transcript();
      server.Type("/exit");
    }
    // Killed by the signal, the server would show -1 here.
    EXPECT_EQ(server.WaitExit(milliseconds(30000)), 0)
        << (number == SIGHUP ? "SIGHUP: " : "SIGTERM: ") << server.Transcript();
  }
}

}  // namespace
}  // namespace orv::e2e
