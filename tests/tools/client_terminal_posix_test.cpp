// The chat screen of orvchat-client in a real terminal (a tmux pane) against the real
// server on 127.0.0.1, typed to and read as a person would.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "tmux_terminal.h"

namespace {

using orv::client_test::TmuxTerminal;
using orv::e2e::MakePacket;
using orv::e2e::Packet;
using orv::e2e::RunningServer;
using std::chrono::milliseconds;

const std::string kClient = std::string(ORV_TOOLS_DIR) + "/orvchat-client";
const std::string kAnnaMac = "AA0001";

std::vector<std::string> Anna(const RunningServer& server) {
  return {kClient, "--name", "anna",
          "--mac", kAnnaMac, "127.0.0.1:" + std::to_string(server.Port())};
}

// Whether any SGR sequence of a styled screen sets a foreground colour.
bool HasColour(const std::string& styled) {
  for (std::size_t at = 0; (at = styled.find("\x1b[", at)) != std::string::npos;) {
    at += 2;
    const std::size_t end = styled.find('m', at);
    if (end == std::string::npos) break;
    std::string parameters = styled.substr(at, end - at) + ";";
    for (std::size_t cut; (cut = parameters.find(';')) != std::string::npos;) {
      const int value = std::atoi(parameters.substr(0, cut).c_str());
      if ((value >= 31 && value <= 36) || (value >= 91 && value <= 96)) return true;
      parameters.erase(0, cut + 1);
    }
  }
  return false;
}

TEST(ChatAtTerminal, HalfTypedLineSurvivesHistoryRecallsAndWireTextCannotSteerIt) {
  RunningServer server;
  ASSERT_TRUE(server.ready);
  TmuxTerminal anna(Anna(server), {"LANG=C.UTF-8", "NO_COLOR=1"});
  ASSERT_TRUE(anna.Started());
  ASSERT_TRUE(anna.WaitFor("nobody else is online")) << anna.Screen();

  anna.Type("hello wor");
  orv::e2e::Client bob(server.Port());
  ASSERT_TRUE(bob.Send(MakePacket("BB0001", "bob", 2, "1:online")));
  ASSERT_TRUE(bob.Send(MakePacket("BB0001", "bob", 5, "interrupting")));
  ASSERT_TRUE(anna.WaitFor("bob: interrupting")) << anna.Screen();
  EXPECT_EQ(anna.LastRow(), "> hello wor") << anna.Screen();

  // The line goes out whole, and Cyrillic as the wire's code page.
  anna.Type("ld");
  anna.Press("Enter");
  const auto sent = bob.WaitFor([](const Packet& p) { return p.type == 5 && p.mac == kAnnaMac; });
  ASSERT_TRUE(sent.has_value());
  EXPECT_EQ(sent->body, "hello world");
  anna.Type("привет");
  anna.Press("Enter");
  const auto cyrillic = bob.WaitFor(
      [](const Packet& p) { return p.type == 5 && p.mac == kAnnaMac && p.body != "hello world"; });
  ASSERT_TRUE(cyrillic.has_value());
  EXPECT_EQ(cyrillic->body, "\xEF\xF0\xE8\xE2\xE5\xF2");
  EXPECT_TRUE(anna.WaitFor("anna: привет")) << anna.Screen();

  anna.Press("Up");
  EXPECT_TRUE(anna.WaitUntil([&] { return anna.LastRow() == "> привет"; }, milliseconds(2000)))
      << anna.Screen();
  anna.Press("Up");
  EXPECT_TRUE(anna.WaitUntil([&] { return anna.LastRow() == "> hello world"; }, milliseconds(2000)))
      << anna.Screen();

  // A name and a message that would clear the screen, retitle the window and move the
  // cursor are shown as text; nothing they hold reaches the terminal.
  orv::e2e::Client mallory(server.Port());
  ASSERT_TRUE(mallory.Send(
      MakePacket("CC0001", "mal\x1b[2J", 5, "x\x1b]0;pwned\x07\x1b[2J\x1b[H\x1b[31mred")));
  ASSERT_TRUE(anna.WaitFor("mal\\x1B[2J: x\\x1B]0;pwned\\x07\\x1B[2J\\x1B[H\\x1B[31mred"))
      << anna.Screen();
  EXPECT_NE(anna.Screen().find("bob: interrupting"), std::string::npos) << anna.Screen();
  EXPECT_EQ(anna.Title().find("pwned"), std::string::npos);
  EXPECT_EQ(anna.LastRow(), "> hello world");
  // NO_COLOR: bold and faint, no colours.
  EXPECT_FALSE(HasColour(anna.StyledScreen()));
}

TEST(ChatAtTerminal, JoinsLeavesAndStatusInWordsWithWhoIsOnlineAside) {
  RunningServer server;
  ASSERT_TRUE(server.ready);
  TmuxTerminal anna(Anna(server), {"LANG=C.UTF-8"});
  ASSERT_TRUE(anna.Started());
  ASSERT_TRUE(anna.WaitFor("nobody else is online")) << anna.Screen();
  {
    orv::e2e::Client boris(server.Port());
    ASSERT_TRUE(boris.Send(MakePacket("BB0002", "\xC1\xEE\xF0\xE8\xF1", 2, "1:online")));
    ASSERT_TRUE(anna.WaitFor("* Борис joined")) << anna.Screen();
    EXPECT_TRUE(anna.WaitFor("│ Борис")) << anna.Screen();
    EXPECT_TRUE(anna.WaitFor("| 2 online")) << anna.Screen();
    ASSERT_TRUE(boris.Send(MakePacket("BB0002", "\xC1\xEE\xF0\xE8\xF1", 4, "2:lunch")));
    EXPECT_TRUE(anna.WaitFor("* Борис is away: lunch")) << anna.Screen();
    // Names have colours when NO_COLOR is not set.
    EXPECT_TRUE(HasColour(anna.StyledScreen())) << anna.StyledScreen();
  }
  // Nothing tells of a leave but the next list, which the client asks for after the
  // server's refresh.
  EXPECT_TRUE(anna.WaitFor("* Борис left", milliseconds(8000))) << anna.Screen();
  EXPECT_TRUE(anna.WaitUntil([&] { return anna.Screen().find("│ Борис") == std::string::npos; },
                             milliseconds(2000)))
      << anna.Screen();
  // The list and AFS packets are no lines of their own.
  const std::string screen = anna.Screen();
  EXPECT_EQ(screen.find("type"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("AFS value"), std::string::npos) << screen;
  EXPECT_NE(screen.find("AFS 15/min"), std::string::npos) << screen;
}

TEST(ChatAtTerminal, ConnectsAgainWhenTheServerComesBack) {
  RunningServer server;
  ASSERT_TRUE(server.ready);
  TmuxTerminal anna(Anna(server), {"LANG=C.UTF-8"});
  ASSERT_TRUE(anna.Started());
  ASSERT_TRUE(anna.WaitFor("nobody else is online")) << anna.Screen();

  server.process->Signal(SIGTERM);
  ASSERT_EQ(server.process->WaitExit(milliseconds(5000)), 0);
  ASSERT_TRUE(
      anna.WaitFor("connection closed by the server; connecting again in 1 s", milliseconds(2000)))
      << anna.Screen();
  EXPECT_TRUE(anna.WaitFor("disconnected, connecting again in")) << anna.Screen();
  anna.Type("sent later");
  anna.Press("Enter");
  EXPECT_TRUE(anna.WaitFor("not connected: the line goes once connected again")) << anna.Screen();

  // The first attempt finds nobody; the pause grows. The server is back before the next
  // one, and a newcomer is there in time to see anna come back.
  ASSERT_TRUE(anna.WaitFor("connecting again in 2 s")) << anna.Screen();
  server.Start();
  ASSERT_TRUE(server.ready);
  orv::e2e::Client probe(server.Port());
  const auto typed = probe.WaitFor([](const Packet& p) { return p.type == 5 && p.mac == kAnnaMac; },
                                   milliseconds(8000));
  ASSERT_TRUE(typed.has_value()) << anna.Screen();
  EXPECT_EQ(typed->body, "sent later");
  ASSERT_TRUE(probe.Send(MakePacket("BB0003", "probe", 2, "1:online")));
  const auto list = probe.WaitFor([](const Packet& p) { return p.type == 37; });
  ASSERT_TRUE(list.has_value());
  EXPECT_NE(list->body.find("|U1|anna|"), std::string::npos) << *list;
  // The welcome was read the first time.
  const std::string screen = anna.Screen();
  EXPECT_EQ(screen.find("Welcome"), screen.rfind("Welcome")) << screen;
  EXPECT_TRUE(anna.WaitFor("* probe joined")) << anna.Screen();
}

}  // namespace
