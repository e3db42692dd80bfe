// The program's start: options, the checks before the engine runs, and the operator's own
// alphabets.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

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

// Removes the line "</key>" from the settings file; the number of the line "<key>" (from 1).
int UncloseBlock(const fs::path& settings, const std::string& key) {
  std::istringstream in(ReadFile(settings));
  std::string kept;
  int opening = 0;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    const std::string bare =
        !line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line;
    if (bare == "<" + key + ">" && opening == 0) opening = number;
    if (bare != "</" + key + ">") kept += line + "\n";
  }
  WriteFile(settings, kept);
  return opening;
}

// A settings file an office has used for years holds values that are not what the server
// writes today; it starts all the same, serves, and says what it took, where an operator
// looks: on stderr, on the console, in the log and from --check-config.
TEST(StartupTest, AnOldSettingsFileStartsServesAndSaysWhatItTook) {
  RunningServer server({}, [](WorkFolder& folder) {
    folder.Set("DebugLog", "2");
    folder.Set("FloodStopper", "200");
    folder.Set("MaxLineMessage", "-5");
    folder.Set("ServerName", "Z");
    folder.Set("ServerAllowLog", " 2");
    folder.Set("IdleTimeout", "5m");
  });
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  const std::string in = "\" in " + server.folder.Settings().string();
  const std::vector<std::string> warnings = {
      "ServerName \"Z" + in + " is shorter than 2 characters; the default name \"DIVIV\" is taken",
      "ServerAllowLog \" 2" + in +
          " is not 0 or 1; 1 (on) is taken (any number but 0 switches it on)",
      "DebugLog \"2" + in + " is not 0 or 1; 1 (on) is taken (any number from 1 up switches it on)",
      "MaxLineMessage \"-5" + in +
          " is not a whole number from 0 to 2147483647 (lines the console keeps); 0 is taken (it "
          "does not begin with a digit)",
      "FloodStopper \"200" + in +
          " is not a whole number from 0 to 100 (the default AFS value); 200 is taken as written",
      "IdleTimeout \"5m" + in +
          " is not a whole number from 0 to 2147483647 (seconds without input before a close, 0 "
          "for never); the default 0 is taken"};
  ServerProcess& console = *server.process;
  for (const std::string& warning : warnings) {
    EXPECT_TRUE(console.WaitForLine("orvchatserver: warning: " + warning, milliseconds(100)))
        << warning << "\n"
        << console.Transcript();
    EXPECT_TRUE(console.WaitForLine("Warning: " + warning, milliseconds(100))) << warning;
  }

  // It serves under the name and with the values it said it took.
  Client alice(server.Port());
  auto welcome = alice.WaitForType(6);
  ASSERT_TRUE(welcome) << console.Transcript();
  EXPECT_EQ(welcome->name, "DIVIV");
  ASSERT_TRUE(alice.Send(MakePacket("AA01", "alice", 4, "1:online")));
  console.Type("/refresh");
  auto afs = alice.WaitForType(45);
  ASSERT_TRUE(afs) << console.Transcript();
  EXPECT_EQ(afs->body, "1:200");
  const std::string log = server.Log();
  EXPECT_NE(log.find("Warning: " + warnings[0]), std::string::npos) << log;
  EXPECT_NE(log.find("::: "), std::string::npos) << "DebugLog is on: trace lines are logged";

  auto [status, out] = RunToEnd({"--check-config", "-C", server.folder.Dir().string()});
  EXPECT_EQ(status, 0) << out;
  for (const std::string& warning : warnings) {
    EXPECT_NE(out.find("warning: " + warning), std::string::npos) << warning << "\n" << out;
  }
  EXPECT_NE(out.find(": the settings are usable (6 warnings)"), std::string::npos) << out;
}

TEST(StartupTest, ABlockThatIsNeverClosedIsNamedWithItsLine) {
  {
    // Without its closing line the port is not there: the start is refused, and the reason
    // is the block, not a port that is "missing".
    WorkFolder folder;
    const int line = UncloseBlock(folder.Settings(), "ServerPort");
    ASSERT_GT(line, 0);
    auto [status, out] = RunToEnd({"--headless", "-C", folder.Dir().string()});
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(
        out.find("The <ServerPort> block at line " + std::to_string(line) + " of " +
                 folder.Settings().string() + " is not closed (no line </ServerPort> follows it)"),
        std::string::npos)
        << out;
    EXPECT_EQ(out.find("ServerPort is missing"), std::string::npos) << out;
    EXPECT_EQ(out.find("Waiting for connections"), std::string::npos) << out;
  }
  // A name whose block never closes: the default name, said with the block's line.
  int line = 0;
  RunningServer server(
      {}, [&line](WorkFolder& folder) { line = UncloseBlock(folder.Settings(), "ServerName"); });
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  ASSERT_GT(line, 0);
  Client alice(server.Port());
  auto welcome = alice.WaitForType(6);
  ASSERT_TRUE(welcome) << server.process->Transcript();
  EXPECT_EQ(welcome->name, "DIVIV");
  EXPECT_TRUE(server.process->WaitForLine(
      "orvchatserver: warning: The <ServerName> block at line " + std::to_string(line) + " of " +
      server.folder.Settings().string() +
      " is not closed (no line </ServerName> follows it); the default name \"DIVIV\" is taken"))
      << server.process->Transcript();
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
