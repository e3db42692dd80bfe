// The Windows build of the server, run headless under Wine, and the Linux client talking to
// it over 127.0.0.1: what a LAN sees of a server on a Windows machine. The server is started
// through a script that runs orvchatserver.exe in Wine (ORV_SERVER_BINARY); every wait is
// bounded, and only the started process is ever signalled.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "e2e/e2e_support.h"

namespace orv::e2e {
namespace {

// Wine takes some seconds to start a program on a busy machine.
constexpr milliseconds kStartLimit(60000);

// orvchat-client started in the background (its own script mode: one packet a line on
// stdout, then exit), read when it is done.
class LinuxClient {
 public:
  LinuxClient(std::uint16_t port, const std::string& options) {
    const std::string command = std::string("timeout 60 ") + ORV_CLIENT_BINARY + " " + options +
                                " 127.0.0.1:" + std::to_string(port) + " 2>&1";
    pipe_ = popen(command.c_str(), "r");
  }
  ~LinuxClient() { Finish(); }
  LinuxClient(const LinuxClient&) = delete;
  LinuxClient& operator=(const LinuxClient&) = delete;

  // Waits for the client to end (it ends by itself: --wait, a close, or the timeout).
  void Finish() {
    if (pipe_ == nullptr) return;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe_) != nullptr)
      output_ += buffer;
    const int status = pclose(pipe_);
    pipe_ = nullptr;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  const std::string& Output() {
    Finish();
    return output_;
  }
  int Status() {
    Finish();
    return status_;
  }

 private:
  FILE* pipe_ = nullptr;
  std::string output_;
  int status_ = -1;
};

class WineServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<ServerProcess>(
        std::vector<std::string>{"--headless", "-C", folder_.Dir().string()});
    ASSERT_TRUE(server_->Started());
    ASSERT_TRUE(server_->WaitForLine("Waiting for connections", kStartLimit))
        << server_->Transcript();
  }

  WorkFolder folder_;
  std::unique_ptr<ServerProcess> server_;
};

TEST_F(WineServerTest, WelcomesRelaysAndListsUsers) {
  LinuxClient bob(folder_.Port(), "--name bob --mac BB0102030405 --wait 6");
  ASSERT_TRUE(server_->WaitForLine("Connection accepted", milliseconds(10000)))
      << server_->Transcript();
  LinuxClient alice(folder_.Port(),
                    "--name alice --mac AA0102030405 --send 'hello from alice' "
                    "--send /list --wait 2");

  EXPECT_EQ(alice.Status(), 0) << alice.Output();
  EXPECT_NE(alice.Output().find("6 OrvServer: Welcome to the ORV chat server"), std::string::npos)
      << alice.Output();
  // The answer to /list names both users.
  EXPECT_NE(alice.Output().find("37 OrvServer: user list (2): bob [BB0102030405"),
            std::string::npos)
      << alice.Output();
  EXPECT_EQ(bob.Status(), 0) << bob.Output();
  EXPECT_NE(bob.Output().find("5 alice: hello from alice"), std::string::npos) << bob.Output();
  EXPECT_NE(bob.Output().find("45 OrvServer: AFS value 15"), std::string::npos) << bob.Output();
}

TEST_F(WineServerTest, OperatorKicksThenStopsInOrder) {
  LinuxClient alice(folder_.Port(), "--name alice --mac AA0102030405 --wait 20");
  LinuxClient carol(folder_.Port(), "--name carol --mac CC0102030405 --wait 20");
  ASSERT_TRUE(server_->WaitForLines("Connection accepted", 2, milliseconds(10000)))
      << server_->Transcript();
  // Both announced: a listing names both, and alice's row is the one to kick.
  std::string aliceRow;
  bool bothListed = false;
  for (int attempt = 0; attempt < 50 && !bothListed; ++attempt) {
    const std::size_t mark = server_->LineCount();
    server_->Type("/users");
    if (!server_->WaitForLine("CC0102030405", milliseconds(300), mark)) continue;
    const std::vector<std::string> lines = server_->Lines();
    for (std::size_t i = mark; i < lines.size(); ++i) {
      if (lines[i].find("AA0102030405") == std::string::npos) continue;
      aliceRow = lines[i].substr(0, lines[i].find(' '));
      bothListed = true;
    }
  }
  ASSERT_TRUE(bothListed) << server_->Transcript();

  server_->Type("/kick " + aliceRow);
  EXPECT_EQ(alice.Status(), 3) << alice.Output();  // closed by the server
  EXPECT_NE(alice.Output().find("6 OrvServer: You have been disconnected by the operator."),
            std::string::npos)
      << alice.Output();
  EXPECT_TRUE(server_->WaitForLine("Kicked user at", milliseconds(5000))) << server_->Transcript();

  server_->Type("/exit");
  EXPECT_EQ(server_->WaitExit(milliseconds(30000)), 0) << server_->Transcript();
  EXPECT_EQ(carol.Status(), 3) << carol.Output();
  EXPECT_NE(carol.Output().find("6 OrvServer: The server is shutting down. Goodbye."),
            std::string::npos)
      << carol.Output();
  // The log's last line, written after the close message went out.
  std::string log;
  for (const auto& entry : fs::directory_iterator(folder_.Dir() / "logs"))
    log += ReadFile(entry.path());
  EXPECT_NE(log.find("Server stopped"), std::string::npos) << log;
}

TEST_F(WineServerTest, CtrlCStopsInOrder) {
  // Wine hands SIGINT to a console program as Ctrl+C.
  LinuxClient dave(folder_.Port(), "--name dave --mac DD0102030405 --wait 20");
  ASSERT_TRUE(server_->WaitForLine("Connection accepted", milliseconds(10000)))
      << server_->Transcript();
  // Time for the welcome (held 500 ms) and the announcement.
  std::this_thread::sleep_for(milliseconds(1500));
  server_->Signal(SIGINT);
  EXPECT_EQ(server_->WaitExit(milliseconds(30000)), 0) << server_->Transcript();
  EXPECT_EQ(dave.Status(), 3) << dave.Output();
  EXPECT_NE(dave.Output().find("6 OrvServer: The server is shutting down. Goodbye."),
            std::string::npos)
      << dave.Output();
}

}  // namespace
}  // namespace orv::e2e
