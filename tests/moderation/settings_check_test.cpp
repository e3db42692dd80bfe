#include "moderation/settings_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orv {
namespace {

const std::filesystem::path kFile = "/srv/chat/orvchatserver.cfg";

std::string Block(const std::string& key, const std::string& value) {
  return "<" + key + ">\r\n" + value + "\r\n</" + key + ">\r\n";
}

// The texts of the problems found in a file of a good port plus extra.
std::vector<std::string> ProblemsWith(const std::string& extra, bool errorsOnly = true) {
  std::vector<std::string> texts;
  for (const SettingsProblem& problem :
       CheckSettingsContent(Block("ServerPort", "9010") + extra, kFile)) {
    if (problem.error || !errorsOnly) texts.push_back(problem.text);
  }
  return texts;
}

TEST(SettingsCheck, AGoodFileHasNoProblemAndBlanksAroundValuesDoNotCount) {
  const std::string file =
      "comment line\n" + Block("ServerLanguage", " english ") + Block("ServerName", "  Lobby ") +
      Block("ServerIP", " 192.168.0.10 ") + Block("ServerPort", " 19404") +
      Block("ServerAllowLog", "1 ") + Block("DebugLog", "0") + Block("MaxLineMessage", "300") +
      Block("FloodStopper", "15") + Block("IdleTimeout", "0") + Block("BoardQuota", "16777216") +
      Block("LogKeepDays", "30") + Block("ServerWelcomeMessage", "Hello\n\nthere");
  EXPECT_TRUE(CheckSettingsContent(file, kFile).empty());
  // No ServerIP at all, or an empty one: every local address.
  EXPECT_TRUE(ProblemsWith("").empty());
  EXPECT_TRUE(ProblemsWith(Block("ServerIP", "")).empty());
  EXPECT_TRUE(ProblemsWith(Block("ServerIP", "0.0.0.0")).empty());
}

TEST(SettingsCheck, EachBadPortIsRefusedNamingKeyValueAndFile) {
  for (const std::string bad : {"abc", "0", "65536", "-5", "90 10", "9010x", "1e3"}) {
    const auto problems =
        CheckSettingsContent(Block("ServerName", "Lobby") + Block("ServerPort", bad), kFile);
    ASSERT_EQ(problems.size(), 1u) << bad;
    EXPECT_TRUE(problems[0].error);
    EXPECT_EQ(problems[0].text, "ServerPort \"" + bad + "\" in " + kFile.string() +
                                    " is not a port: give a whole number from 1 to 65535");
  }
  const auto missing = CheckSettingsContent(Block("ServerName", "Lobby"), kFile);
  ASSERT_EQ(missing.size(), 1u);
  EXPECT_EQ(missing[0].text, "ServerPort is missing in " + kFile.string() +
                                 ": give the port to listen on, a whole number from 1 to 65535");
}

TEST(SettingsCheck, AnAddressMustBeADottedIpv4Address) {
  for (const std::string bad :
       {"localhost", "192.168.0", "192.168.0.256", "1.2.3.4.5", "01.2.3.4", "::1", "1..2.3"}) {
    const auto problems = ProblemsWith(Block("ServerIP", bad));
    ASSERT_EQ(problems.size(), 1u) << bad;
    EXPECT_EQ(problems[0], "ServerIP \"" + bad + "\" in " + kFile.string() +
                               " is not an IPv4 address: give four numbers from 0 to 255 with "
                               "dots between them (0.0.0.0 or nothing for every local address)");
  }
  EXPECT_TRUE(IsIpv4Address("10.0.0.255"));
  EXPECT_TRUE(IsIpv4Address("0.0.0.0"));
}

TEST(SettingsCheck, NumbersMustBeWholeNumbersInTheirRange) {
  struct Case {
    std::string key, value, range;
  };
  for (const Case& c : std::vector<Case>{{"ServerAllowLog", "yes", "0 to 1"},
                                         {"DebugLog", "2", "0 to 1"},
                                         {"MaxLineMessage", "-1", "0 to 2147483647"},
                                         {"FloodStopper", "101", "0 to 100"},
                                         {"MaxPacketSize", "63", "64 to 2147483647"},
                                         {"MaxUsersPerConnection", "0", "1 to 2147483647"},
                                         {"BoardFileLimit", "1 MB", "0 to 2147483647"},
                                         {"IdleTimeout", "5s", "0 to 2147483647"},
                                         {"MaxConnectionsPerAddress", "x", "0 to 2147483647"},
                                         {"LogKeepDays", "30.5", "0 to 100000"}}) {
    const auto problems = ProblemsWith(Block(c.key, c.value));
    ASSERT_EQ(problems.size(), 1u) << c.key;
    EXPECT_EQ(problems[0].rfind(c.key + " \"" + c.value + "\" in " + kFile.string() +
                                    " is not a whole number from " + c.range + " (",
                                0),
              0u)
        << problems[0];
  }
}

TEST(SettingsCheck, NamesLanguagesEmptyFilesAndUnknownKeys) {
  EXPECT_EQ(ProblemsWith(Block("ServerName", " Z ")),
            std::vector<std::string>{"ServerName \" Z \" in " + kFile.string() +
                                     " is too short: give at least 2 characters"});
  EXPECT_EQ(ProblemsWith(Block("ServerLanguage", "../secret")).size(), 1u);
  EXPECT_TRUE(ProblemsWith(Block("ServerLanguage", "german")).empty());

  for (const std::string& empty : {std::string(), std::string("just a comment\r\n"),
                                   std::string("<ServerPort>\r\n9010\r\n")}) {
    const auto problems = CheckSettingsContent(empty, kFile);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_TRUE(problems[0].error);
    EXPECT_EQ(problems[0].text, "The settings file " + kFile.string() +
                                    " holds no settings (no <Key> ... </Key> blocks); at least "
                                    "ServerPort is needed");
  }

  // A misspelt key is a warning; the key it was meant to be is then missing.
  const auto typo = CheckSettingsContent(Block("ServerPrt", "9010"), kFile);
  ASSERT_EQ(typo.size(), 2u);
  EXPECT_FALSE(typo[0].error);
  EXPECT_EQ(typo[0].text, "Unknown setting ServerPrt in " + kFile.string() + " is ignored");
  EXPECT_TRUE(typo[1].error);
}

TEST(SettingsCheck, AFileThatCannotBeReadIsOneError) {
  const auto problems = CheckSettingsFile("/nonexistent/orvchatserver.cfg");
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_TRUE(problems[0].error);
  EXPECT_NE(problems[0].text.find("/nonexistent/orvchatserver.cfg"), std::string::npos);
}

}  // namespace
}  // namespace orv
