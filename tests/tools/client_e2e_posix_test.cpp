// The chat client with its output piped, against the real server on 127.0.0.1: what other
// clients write reaches this client's output harmless, the client notices at once when the
// server goes, and it keeps to the AFS value the server sends.
#include <gtest/gtest.h>

#include <string>

#include "client_process.h"
#include "e2e/e2e_support.h"

namespace {

using orv::client_test::ClientProcess;
using orv::e2e::MakePacket;
using orv::e2e::RunningServer;
using std::chrono::milliseconds;

const std::string kClient = std::string(ORV_TOOLS_DIR) + "/orvchat-client";

std::string Address(const RunningServer& server) {
  return "127.0.0.1:" + std::to_string(server.Port());
}

TEST(ClientAgainstServer, ControlCharactersFromTheWireAreShownEscaped) {
  RunningServer server;
  ASSERT_TRUE(server.ready);
  ClientProcess anna(kClient, {"--name", "anna", "--mac", "AA0001", Address(server)});
  ASSERT_TRUE(anna.WaitForOutput("nobody else is online")) << anna.Output();

  // A name and a message that would clear the screen, retitle the window and ring the bell.
  orv::e2e::Client mallory(server.Port());
  ASSERT_TRUE(mallory.Connected());
  const std::string name = "mal\x1b[2Jory";
  ASSERT_TRUE(mallory.Send(MakePacket("BB0002", name, 2, "0:")));
  ASSERT_TRUE(mallory.Send(MakePacket("BB0002", name, 5, "hi\x1b]0;pwned\x07\x1b[2J\r\nanna: x")));
  ASSERT_TRUE(anna.WaitForOutput("hi\\x1B]0;pwned\\x07\\x1B[2J\\r\\nanna: x")) << anna.Output();
  EXPECT_TRUE(anna.WaitForOutput("mal\\x1B[2Jory")) << anna.Output();

  // The packet view escapes too.
  ClientProcess raw(kClient, {"--raw", "--name", "raw", Address(server)});
  ASSERT_TRUE(raw.WaitForOutput("raw (type 2)")) << raw.Output();
  ASSERT_TRUE(mallory.Send(MakePacket("BB0002", name, 5, "again\x1b[H")));
  EXPECT_TRUE(raw.WaitForOutput("mal\\x1B[2Jory (type 5): again\\x1B[H")) << raw.Output();

  for (const std::string& output : {anna.Output(), raw.Output()}) {
    EXPECT_EQ(output.find('\x1b'), std::string::npos) << output;
    EXPECT_EQ(output.find('\x07'), std::string::npos) << output;
    EXPECT_EQ(output.find('\r'), std::string::npos) << output;
  }
}

TEST(ClientAgainstServer, ServerStoppingEndsTheClientWithoutATypedLine) {
  RunningServer server;
  ASSERT_TRUE(server.ready);
  ClientProcess anna(kClient, {"--name", "anna", Address(server)});
  ASSERT_TRUE(anna.WaitForOutput("nobody else is online")) << anna.Output();

  server.process->Signal(SIGTERM);
  ASSERT_EQ(server.process->WaitExit(milliseconds(5000)), 0);
  // Nothing is typed: the client must see the connection end by itself.
  const auto stopped = orv::e2e::Clock::now();
  EXPECT_EQ(anna.WaitExit(milliseconds(3000)), 3) << anna.Output();
  EXPECT_LT(orv::e2e::Clock::now() - stopped, milliseconds(2000));
  EXPECT_NE(anna.Output().find("connection closed by the server"), std::string::npos)
      << anna.Output();
}

TEST(ClientAgainstServer, KeepsToTheAfsValueAndSaysSo) {
  RunningServer server({}, [](orv::e2e::WorkFolder& folder) { folder.Set("FloodStopper", "2"); });
  ASSERT_TRUE(server.ready);
  ClientProcess anna(kClient, {"--name", "anna", "--mac", "AA0003", Address(server)});
  ASSERT_TRUE(anna.WaitForOutput("nobody else is online")) << anna.Output();
  orv::e2e::Client bob(server.Port());
  ASSERT_TRUE(bob.Send(MakePacket("BB0003", "bob", 2, "1:online")));
  ASSERT_TRUE(anna.WaitForOutput("bob joined")) << anna.Output();
  // A refresh sends everybody the value: 2 packets a minute, the announcement counted.
  server.process->Type("/refresh");
  ASSERT_TRUE(bob.WaitForType(45).has_value());
  std::this_thread::sleep_for(milliseconds(200));

  anna.Type("one\ntwo\nthree\n");
  EXPECT_TRUE(anna.WaitForOutput("the server allows 2 messages a minute")) << anna.Output();
  bob.Pump(milliseconds(1000));
  std::vector<std::string> chat;
  for (const orv::e2e::Packet& packet : bob.Packets()) {
    if (packet.type == 5 && packet.mac == "AA0003") chat.push_back(packet.body);
  }
  // The first line goes while the minute has room (unless the client's own request for the
  // list took it), the others wait.
  EXPECT_LE(chat.size(), 1u);
  if (!chat.empty()) {
    EXPECT_EQ(chat.front(), "one");
  }
}

}  // namespace
