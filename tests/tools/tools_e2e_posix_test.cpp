// The client and the load generator against the baseline relay, as real processes on
// 127.0.0.1: a relay echoes every packet to every connection, its sender included.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

extern char** environ;

namespace {

const std::string kTools = ORV_TOOLS_DIR;

struct Result {
  int status = -1;
  std::string output;  // stdout and stderr together
};

// Runs a shell command, bounded in time by timeout(1).
Result RunCommand(const std::string& command) {
  Result result;
  FILE* pipe = popen(("timeout 60 " + command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
    result.output += buffer;
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// The relay on a port of the system's choosing, stopped by its PID.
class RelayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string relay = kTools + "/orvchat-lean-relay";
    char* argv[] = {const_cast<char*>(relay.c_str()), const_cast<char*>("0"), nullptr};
    ASSERT_EQ(posix_spawn(&pid_, relay.c_str(), &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string line;
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n' && line.size() < 200)
      line += c;
    close(out[0]);
    const std::size_t colon = line.rfind(':');
    ASSERT_NE(colon, std::string::npos) << line;
    port_ = line.substr(colon + 1);
  }

  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }

  std::string Client(const std::string& options) {
    return kTools + "/orvchat-client " + options + " 127.0.0.1:" + port_;
  }
  std::string Bench(const std::string& options) {
    return kTools + "/orvchat-bench --port " + port_ + " " + options;
  }

  pid_t pid_ = -1;
  std::string port_;
};

TEST_F(RelayTest, ClientPrintsWhatComesBackAndSaysWhatWentWrong) {
  const Result chat =
      RunCommand(Client("--name ann --mac AA01 --send 'hello there' --send '/status 3 "
                        "busy' --wait 0.3"));
  EXPECT_EQ(chat.status, 0) << chat.output;
  EXPECT_EQ(chat.output, "2 ann: announce status 0: \n5 ann: hello there\n4 ann: status 3: busy\n");

  const Result raw =
      RunCommand(Client("--raw --name ann --mac AA01 --no-announce --send hi --wait 0.3"));
  EXPECT_EQ(raw.output, "127.0.0.1(AA01)||ann||1.gif||0.0||1||5||hi//end\n");

  const Result broken = RunCommand(Client("--no-announce --send '/raw no terminator' --wait 0.3"));
  EXPECT_EQ(broken.status, 4);
  EXPECT_NE(broken.output.find("malformed packet: 13 bytes without \"//end\""), std::string::npos)
      << broken.output;

  const Result refused = RunCommand(kTools + "/orvchat-client --wait 0.1 127.0.0.1:1");
  EXPECT_EQ(refused.status, 5);
  EXPECT_NE(refused.output.find("cannot connect to 127.0.0.1:1"), std::string::npos);

  // Usage errors: a short reason, the usage line and a pointer to --help, status 2.
  for (const std::string& bad :
       {std::string("--status x 127.0.0.1:1"), std::string("--frob"), std::string("--name"),
        std::string("--encode 127.0.0.1:1"), std::string("")}) {
    const Result usage = RunCommand(kTools + "/orvchat-client " + bad);
    EXPECT_EQ(usage.status, 2) << bad << usage.output;
    EXPECT_NE(usage.output.find("see --help"), std::string::npos) << usage.output;
  }
  // Values with "=" and short forms.
  const Result shortForms = RunCommand(Client("-n ann --mac=AA01 -s hi --wait=0.3"));
  EXPECT_EQ(shortForms.status, 0) << shortForms.output;
  EXPECT_NE(shortForms.output.find("5 ann: hi"), std::string::npos) << shortForms.output;
}

TEST(CommandLines, HelpAndVersionEverywhere) {
  for (const char* program : {"/orvchat-client", "/orvchat-bench"}) {
    const Result help = RunCommand(kTools + program + " --help");
    EXPECT_EQ(help.status, 0) << program;
    EXPECT_NE(help.output.find("Exit status:"), std::string::npos) << help.output;
    const Result version = RunCommand(kTools + program + " --version");
    EXPECT_EQ(version.status, 0) << program;
    EXPECT_EQ(version.output.rfind(std::string(program + 1) + " 1.", 0), 0u) << version.output;
  }
}

TEST_F(RelayTest, CodecFilterRoundTrips) {
  const Result both =
      RunCommand("printf 'a||b//end\\320\\260' | " + kTools + "/orvchat-client --encode --utf8 | " +
                 kTools + "/orvchat-client --decode --utf8 --lines");
  EXPECT_EQ(both.output, "a||b//end\n\xD0\xB0");
}

TEST_F(RelayTest, BenchCountsEveryDeliveryOnce) {
  const Result load = RunCommand(Bench("--receivers 20 --senders 2 --duration 0.5 --size 200"));
  ASSERT_EQ(load.status, 0) << load.output;
  // Every packet reaches all 22 connections, the senders' own included.
  const auto number = [&](const std::string& key) {
    const std::size_t at = load.output.find("\"" + key + "\":");
    return at == std::string::npos ? -1.0 : std::stod(load.output.substr(at + key.size() + 3));
  };
  EXPECT_GT(number("sent"), 0);
  EXPECT_EQ(number("deliveries"), number("sent") * 22);
  EXPECT_EQ(number("lost"), 0);
  EXPECT_EQ(number("duplicates"), 0);
  EXPECT_EQ(number("malformed"), 0);

  const Result login = RunCommand(Bench("--login 50"));
  EXPECT_EQ(login.status, 0) << login.output;
  EXPECT_NE(login.output.find("\"all_lists_complete_s\":"), std::string::npos) << login.output;

  const Result refused = RunCommand(kTools + "/orvchat-bench --port 1 --duration 0.1");
  EXPECT_EQ(refused.status, 5);
  EXPECT_NE(refused.output.find("Connection refused"), std::string::npos) << refused.output;

  for (const std::string& bad :
       {std::string("--duration 0.1"), std::string("--port 0"), std::string("--port=1 --senders 0"),
        std::string("--port 1 --window x")}) {
    const Result usage = RunCommand(kTools + "/orvchat-bench " + bad);
    EXPECT_EQ(usage.status, 2) << bad << usage.output;
    EXPECT_NE(usage.output.find("see --help"), std::string::npos) << usage.output;
  }
}

}  // namespace
