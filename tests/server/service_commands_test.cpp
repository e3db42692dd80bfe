// What the engine does for a server run as a service: reloading the settings, answering a
// command with what it printed, and console lines an operator can follow.
#include <gmock/gmock.h>

#include <algorithm>

#include "engine_fixture.h"

namespace orv::testing {
namespace {

using ::testing::HasSubstr;

TEST_F(EngineTest, ReloadTakesWhatCanChangeAndKeepsTheAddress) {
  Start();
  auto a = Login("AA", "alice");
  WriteFile("language/lang_other.cfg", "[STRINGS]\nSTR38=Now %d online\n");
  WriteFile("orvchatserver.cfg",
            "<ServerLanguage>\nother\n</ServerLanguage>\n<ServerName>\nRenamed\n</ServerName>\n"
            "<ServerIP>\n10.9.8.7\n</ServerIP>\n<ServerPort>\n6001\n</ServerPort>\n"
            "<FloodStopper>\n30\n</FloodStopper>\n<DebugLog>\n1\n</DebugLog>\n"
            "<ServerWelcomeMessage>\nHello again\n</ServerWelcomeMessage>\n"
            "<MaxUsersPerConnection>\n3\n</MaxUsersPerConnection>\n"
            "<WebConsole>\n127.0.0.1:9011\n</WebConsole>\n");
  view_.console.clear();
  ASSERT_TRUE(Reload());
  const Settings& settings = server_->GetSettings();
  EXPECT_EQ(settings.MaxUsersPerConnection, 3);
  // The web console is started with the server: its settings wait for a restart too.
  EXPECT_EQ(settings.WebConsole, "");
  EXPECT_TRUE(view_.HasLine(
      "The settings now say WebConsole \"127.0.0.1:9011\"; the server keeps \"\" until it is "
      "restarted"));
  EXPECT_EQ(settings.ServerName, "Renamed");
  EXPECT_EQ(settings.FloodStopper, 30);
  EXPECT_TRUE(settings.DebugLog);
  EXPECT_EQ(view_.texts.serverName, "Renamed");
  EXPECT_EQ(view_.title, "ORV Chat Server (Renamed)");
  // The port waits for a restart, and the operator hears so.
  EXPECT_EQ(settings.ServerPort, 5000);
  EXPECT_EQ(settings.ServerIP, "10.9.8.7");
  EXPECT_TRUE(
      view_.HasLine("The settings now say 10.9.8.7:6001; the server keeps listening on "
                    "10.9.8.7:5000 until it is restarted"));
  EXPECT_TRUE(view_.HasLine("Settings reloaded"));
  // The new language is in use at once; the new default AFS value reaches the user who comes
  // now and the one who was online already.
  auto b = Login("BB", "bob");
  Refresh();
  EXPECT_TRUE(view_.HasLine("Now 2 online"));
  EXPECT_EQ(DecodedSent(*b).back().body, "1:30");
  EXPECT_EQ(DecodedSent(*a).back().body, "1:30");
  EXPECT_EQ(view_.texts.floodStopper, 30);
}

TEST_F(EngineTest, AReloadOfABrokenFileChangesNothingAndSaysWhy) {
  Start();
  WriteFile("orvchatserver.cfg",
            "<ServerName>\nOther\n</ServerName>\n<ServerPort>\nx500\n</ServerPort>\n");
  view_.console.clear();
  EXPECT_FALSE(Reload());
  EXPECT_EQ(server_->GetSettings().ServerName, "Srv");
  const std::string file = (workDir_ / "orvchatserver.cfg").string();
  EXPECT_TRUE(view_.HasLine("ServerPort \"x500\" in " + file +
                            " is not a port: give a whole number from 1 to 65535"));
  EXPECT_TRUE(view_.HasLine("Settings not reloaded: 1 problem in " + file +
                            "; the server goes on with the settings it has"));

  // A missing language file falls back to the built-in texts, with one line.
  WriteSettings();
  WriteFile("orvchatserver.cfg",
            ReadFile("orvchatserver.cfg") + "<ServerLanguage>\ngerman\n</ServerLanguage>\n");
  view_.console.clear();
  ASSERT_TRUE(Reload());
  EXPECT_TRUE(
      view_.HasLine("The language file language/lang_german.cfg cannot be read; the "
                    "built-in English texts are used"));
  EXPECT_TRUE(view_.HasLine("Server name: Srv"));
}

TEST_F(EngineTest, AnIdleTimeoutSetByAReloadClosesIdleConnections) {
  Start();
  auto a = Login("AA", "alice");
  // Quiet for long before the timeout is set: the time counts from the reload on.
  scheduler_.Advance(60000);
  WriteFile("orvchatserver.cfg",
            ReadFile("orvchatserver.cfg") + "<IdleTimeout>\n10\n</IdleTimeout>\n");
  ASSERT_TRUE(Reload());
  scheduler_.Advance(9000);
  EXPECT_FALSE(a->closed);
  scheduler_.Advance(3000);
  EXPECT_TRUE(a->closed);
  EXPECT_TRUE(
      view_.HasLine("Connection from 192.168.1.20 (alice) closed: nothing received for "
                    "10 s (IdleTimeout)"));
}

// A command answers with what it said, or why it was refused; what it said is on the
// console too, a refusal only for the one who asked.
TEST_F(EngineTest, CommandsAnswerWithTheirLinesOrTheirRefusal) {
  Start();
  Login("AA", "alice", "10.0.0.1");
  const std::size_t before = view_.console.size();
  const Outcome refused = server_->Execute(command::Kick{"ZZ"});
  EXPECT_FALSE(refused.done);
  EXPECT_TRUE(refused.noSuchUser);
  EXPECT_EQ(refused.lines, std::vector<std::string>{"No user with MAC ZZ is online."});
  EXPECT_EQ(view_.console.size(), before);

  const Outcome kicked = server_->Execute(command::Kick{"AA"});
  EXPECT_TRUE(kicked.done);
  EXPECT_EQ(kicked.lines, std::vector<std::string>{"S36 10.0.0.1 (alice)"});
  EXPECT_TRUE(view_.HasLine("S36 10.0.0.1 (alice)"));
  scheduler_.Advance(500);
  EXPECT_TRUE(view_.HasLine("S37 10.0.0.1 (alice)"));

  // Queries answer with values.
  Login("BB", "bob", "10.0.0.2");
  const Outcome users = server_->Execute(command::Users{});
  ASSERT_EQ(users.users.size(), 1u);
  EXPECT_EQ(users.users[0].name, "bob");
  EXPECT_EQ(server_->Execute(command::Status{}).status.users, 1);
  EXPECT_TRUE(server_->Execute(command::Stop{}).lines.front().find("Stopping is not offered") !=
              std::string::npos);
}

TEST_F(EngineTest, OperatorMessagesAndTheStopAreOnTheConsoleAndInTheLog) {
  Start();
  auto a = Login("AA", "alice");
  Send("  hello\nall  ");
  EXPECT_TRUE(view_.HasLine("Operator message: hello\\nall"));
  Send(" x ");
  EXPECT_EQ(std::count_if(view_.console.begin(), view_.console.end(),
                          [](const std::string& line) {
                            return line.find("Operator message") != std::string::npos;
                          }),
            1);
  server_->ShutdownServer();
  EXPECT_TRUE(view_.HasLine("S8"));
  const std::string log = ReadFile("logs/12-06-2026.log");
  EXPECT_THAT(log, HasSubstr("] Operator message: hello\\nall\r\n"));
  EXPECT_THAT(log, HasSubstr("] S8\r\n"));
}

TEST_F(EngineTest, OldDayLogsArePrunedAtTheStartWhenASettingSaysSo) {
  std::filesystem::create_directories(workDir_ / "logs");
  WriteFile("logs/11-01-2026.log", "old\r\n");
  WriteFile("logs/12-05-2026.log", "yesterday\r\n");
  Start();
  EXPECT_TRUE(std::filesystem::exists(workDir_ / "logs/11-01-2026.log"));  // keep all

  WriteFile("orvchatserver.cfg",
            ReadFile("orvchatserver.cfg") + "<LogKeepDays>\n2\n</LogKeepDays>\n");
  ASSERT_TRUE(Reload());
  EXPECT_FALSE(std::filesystem::exists(workDir_ / "logs/11-01-2026.log"));
  EXPECT_TRUE(std::filesystem::exists(workDir_ / "logs/12-05-2026.log"));
  EXPECT_TRUE(view_.HasLine("Removed 1 day log older than 2 days from logs/ (LogKeepDays)"));
}

}  // namespace
}  // namespace orv::testing

namespace orv::testing {
namespace {

// What monitoring reads: packets and bytes in, deliveries out and the notices by kind, in
// the status; and a front-end's note about who did what, on the console.
TEST_F(EngineTest, TheStatusCountsTrafficAndNoticesAndANoteIsAConsoleLine) {
  Start();
  auto a = Login("AA", "alice", "10.0.0.1");
  auto b = Login("BB", "bob", "10.0.0.2");
  Settle();
  const EngineCounters before = server_->Status().counters;
  const std::string chat = Packet("AA", "alice", 5, "hello");
  // Two packets in one read, relayed to both connections in one buffer.
  Receive(a, chat + chat);
  const EngineCounters after = server_->Status().counters;
  EXPECT_EQ(after.packetsReceived - before.packetsReceived, 2u);
  EXPECT_EQ(after.bytesReceived - before.bytesReceived, 2 * chat.size());
  EXPECT_EQ(after.deliveries - before.deliveries, 2u);

  // Every refusal counts, also those the console holds back.
  Block(1, BlockState::kMac);
  for (int i = 0; i < 3; ++i)
    Receive(b, Packet("BB", "bob", 5, "let me in"));
  EXPECT_EQ(server_->Status().counters.blockedPackets, 3u);
  // A client that poses as the server is told once a minute, and counted every time.
  for (int i = 0; i < 2; ++i)
    Receive(a, Packet("AA", "alice", 45, "0"));
  EXPECT_EQ(server_->Status().counters.notices.at("packets posing as the server"), 2u);

  ASSERT_TRUE(Run(command::Note{"Web console (10.0.0.9): kick AA\x1B"}));
  EXPECT_TRUE(view_.HasLine("Web console (10.0.0.9): kick AA\\x1B"));
  EXPECT_EQ(Describe(command::Note{"x"}), "note \"x\"");
}

}  // namespace
}  // namespace orv::testing
