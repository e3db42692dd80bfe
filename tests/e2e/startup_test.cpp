// The program's start: options, the checks before the engine runs, and the operator's own
// alphabets.
#include <gtest/gtest.h>

#include <algorithm>

#include "e2e_support.h"
#include "protocol/builtin_alphabets.h"

namespace orv::e2e {
namespace {

// Runs the binary to its end; the exit status and everything it printed.
std::pair<std::optional<int>, std::string> RunToEnd(const std::vector<std::string>& args) {
  ServerProcess process(args);
  auto status = process.WaitExit(milliseconds(10000));
  process.CloseStdin();
  return {status, process.Transcript()};
}

TEST(StartupTest, OptionsAndSettingsProblemsEndTheProgramWithAReason) {
  {
    // The version the option prints is the one the running server shows in its banner.
    auto [status, out] = RunToEnd({"--version"});
    EXPECT_EQ(status, 0);
    ASSERT_EQ(out.rfind("orvchatserver ", 0), 0u) << out;
    const std::string version = out.substr(14, out.find('\n') - 14);
    EXPECT_FALSE(version.empty());
    RunningServer server;
    ASSERT_TRUE(server.ready) << server.process->Transcript();
    EXPECT_EQ(server.process->Lines().front(), "ORV Chat Server " + version + " beta");
  }
  {
    auto [status, out] = RunToEnd({"--help"});
    EXPECT_EQ(status, 0);
    EXPECT_NE(out.find("--headless"), std::string::npos) << out;
  }
  for (const std::vector<std::string>& bad : {std::vector<std::string>{"--frobnicate"},
                                              {"-C"},
                                              {"--write-limit", "12k"},
                                              {"--write-limit", "10"},
                                              {"stray"}}) {
    auto [status, out] = RunToEnd(bad);
    EXPECT_EQ(status, 2) << out;
    EXPECT_NE(out.find("Usage:"), std::string::npos) << out;
  }

  WorkFolder folder;
  const fs::path missing = folder.Dir() / "nowhere";
  {
    auto [status, out] = RunToEnd({"--headless", "-C", missing.string()});
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find(missing.string()), std::string::npos) << out;
  }
  {
    fs::create_directory(missing);
    auto [status, out] = RunToEnd({"--headless", "-C", missing.string()});
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("cannot read the settings file " + (missing / "orvchatserver.cfg").string() +
                       " (No such file or directory)"),
              std::string::npos)
        << out;
  }

  // Alphabets: both or neither, each one line that is a permutation of the set.
  const std::string plain(kBuiltinPlainAlphabet);
  const std::string wire(kBuiltinWireAlphabet);
  struct Case {
    std::string plain, wire, expected;
  };
  const std::vector<Case> cases = {
      {plain, "",
       "ServerWireAlphabet is missing: give both ServerPlainAlphabet and "
       "ServerWireAlphabet, or neither"},
      {"", wire, "ServerPlainAlphabet is missing"},
      {plain.substr(1), wire, "ServerPlainAlphabet"},
      {plain, wire.substr(0, 159) + wire[0], "ServerWireAlphabet"},
      {plain.substr(0, 80) + "\n\n" + plain.substr(80), wire, "ServerPlainAlphabet"},
  };
  for (const Case& c : cases) {
    WorkFolder bad;
    if (!c.plain.empty()) bad.Set("ServerPlainAlphabet", c.plain);
    if (!c.wire.empty()) bad.Set("ServerWireAlphabet", c.wire);
    auto [status, out] = RunToEnd({"--headless", "-C", bad.Dir().string()});
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find(c.expected), std::string::npos) << out;
    EXPECT_EQ(out.find("Waiting for connections"), std::string::npos) << out;
  }
}

TEST(StartupTest, OperatorAlphabetsReplaceTheBuiltInPair) {
  // The built-in pair the other way round is a valid pair of its own.
  RunningServer server({}, [](WorkFolder& folder) {
    folder.Set("ServerPlainAlphabet", std::string(kBuiltinWireAlphabet));
    folder.Set("ServerWireAlphabet", std::string(kBuiltinPlainAlphabet));
  });
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  auto swapped = WireCodec::FromAlphabets(kBuiltinWireAlphabet, kBuiltinPlainAlphabet, nullptr);
  ASSERT_TRUE(swapped);
  Client client(server.Port(), 0, *swapped);
  auto welcome = client.WaitForType(6);
  ASSERT_TRUE(welcome);
  EXPECT_NE(welcome->body.find("Welcome"), std::string::npos) << *welcome;
}

}  // namespace
}  // namespace orv::e2e
