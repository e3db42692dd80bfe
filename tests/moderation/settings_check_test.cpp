#include "moderation/settings_check.h"
#include "moderation/settings_table.h"

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
  for (const std::string bad : {"abc", "0", "65536", "-5", " ", "+9010", "99999999999"}) {
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

  // A port followed by other text is the port it begins with, as it always was.
  for (const auto& [written, port] : std::vector<std::pair<std::string, int>>{
           {"9010x", 9010}, {"90 10", 90}, {"1e3", 1}, {"8", 8}, {" 19404\t", 19404}}) {
    const SettingsReading reading = ReadSettingsContent(Block("ServerPort", written), kFile);
    EXPECT_EQ(reading.values.ServerPort, port) << written;
    const bool whole = TrimBlanks(written).size() == std::to_string(port).size();
    ASSERT_EQ(reading.problems.size(), whole ? 0u : 1u) << written;
    if (!whole) {
      EXPECT_FALSE(reading.problems[0].error);
      EXPECT_EQ(reading.problems[0].text, "ServerPort \"" + written + "\" in " + kFile.string() +
                                              " is not a whole number; " + std::to_string(port) +
                                              " is taken (the number it begins with)");
    }
  }
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

// The web console is off unless asked for; an address it could not listen on, or half of
// what HTTPS needs, stops the start.
TEST(SettingsCheck, TheWebConsoleNeedsAnAddressAndPortAndBothHttpsFiles) {
  const std::string port = Block("ServerPort", "9010");
  EXPECT_EQ(ReadSettingsContent(port, kFile).values.WebConsole, "");
  const SettingsReading on = ReadSettingsContent(
      port + Block("WebConsole", " 127.0.0.1:9011 ") + Block("WebConsoleCertificate", "c.pem") +
          Block("WebConsoleKey", "/etc/k.pem") + Block("WebConsoleSessionMinutes", "5"),
      kFile);
  EXPECT_TRUE(on.problems.empty());
  EXPECT_EQ(on.values.WebConsole, "127.0.0.1:9011");
  EXPECT_EQ(on.values.WebConsoleCertificate, "c.pem");
  EXPECT_EQ(on.values.WebConsoleKey, "/etc/k.pem");
  EXPECT_EQ(on.values.WebConsoleSessionMinutes, 5);
  EXPECT_EQ(on.values.WebConsoleMetrics, 1);

  for (const std::string bad : {"9011", "localhost:9011", "127.0.0.1:0", "127.0.0.1:65536",
                                "127.0.0.1:", "127.0.0.1:09011", "[::1]:9011"}) {
    const auto problems = ProblemsWith(Block("WebConsole", bad));
    ASSERT_EQ(problems.size(), 1u) << bad;
    EXPECT_EQ(problems[0].rfind("WebConsole \"" + bad + "\" in", 0), 0u) << problems[0];
  }
  const auto half = ProblemsWith(Block("WebConsoleCertificate", "c.pem"));
  ASSERT_EQ(half.size(), 1u);
  EXPECT_EQ(half[0], "WebConsoleCertificate and WebConsoleKey in " + kFile.string() +
                         " go together: give both PEM files for HTTPS, or neither");

  std::string address;
  std::int32_t number = 0;
  ASSERT_TRUE(ParseWebConsoleAddress("0.0.0.0:80", &address, &number));
  EXPECT_EQ(address, "0.0.0.0");
  EXPECT_EQ(number, 80);
}

// The number a key's value gave.
std::int64_t NumberOf(const Settings& values, const std::string& key) {
  const SettingRow* row = FindSetting(key);
  if (row == nullptr || !row->IsNumber()) {
    ADD_FAILURE() << key;
    return -1;
  }
  return NumberValue(*row, values);
}

// Values a settings file of an older server may hold start the server: each is read as the
// server has always read it (the switches and the first two numbers) or gives the default
// (the limits, which came later), and the warning says what was taken.
TEST(SettingsCheck, OddValuesAreReadAsTheyAlwaysWereWithAWarning) {
  struct Case {
    std::string key, value;
    std::int64_t taken;
    std::string said;  // the warning after "KEY "VALUE" in FILE"; empty for none
  };
  const std::string notSwitch = " is not 0 or 1; ";
  auto range = [](const std::string& key) {
    const SettingRow* row = FindSetting(key);
    if (row == nullptr) return std::string("?");
    return " is not a whole number from " + std::to_string(row->low) + " to " +
           std::to_string(row->high) + " (" + row->meaning + "); ";
  };
  for (const Case& c : std::vector<Case>{
           // Any number but 0 switches ServerAllowLog on, read as C reads a number.
           {"ServerAllowLog", "2", 1,
            notSwitch + "1 (on) is taken (any number but 0 switches it on)"},
           {"ServerAllowLog", "-3", 1,
            notSwitch + "1 (on) is taken (any number but 0 switches it on)"},
           {"ServerAllowLog", "0x", 0,
            notSwitch + "0 (off) is taken (the number it begins with is 0)"},
           {"ServerAllowLog", "yes", 0,
            notSwitch + "0 (off) is taken (it does not begin with a number)"},
           {"ServerAllowLog", "", 1, " is empty; the default 1 (on) is taken"},
           {"ServerAllowLog", " 0 ", 0, ""},
           // DebugLog: the digits it begins with, 1 or more for on; a sign is no digit.
           {"DebugLog", "2", 1,
            notSwitch + "1 (on) is taken (any number from 1 up switches it on)"},
           {"DebugLog", "7 days", 1,
            notSwitch + "1 (on) is taken (any number from 1 up switches it on)"},
           {"DebugLog", "-1", 0, notSwitch + "0 (off) is taken (it does not begin with a digit)"},
           {"DebugLog", "00x", 0, notSwitch + "0 (off) is taken (the number it begins with is 0)"},
           {"DebugLog", "\t1", 1, ""},
           // The digits it begins with, whatever the range says; none give 0.
           {"MaxLineMessage", "-5", 0,
            range("MaxLineMessage") + "0 is taken (it does not begin with a digit)"},
           {"MaxLineMessage", "42lines", 42,
            range("MaxLineMessage") + "42 is taken (the number it begins with)"},
           {"MaxLineMessage", "99999999999", 300,
            range("MaxLineMessage") + "the default 300 is taken (the number is too large)"},
           {"MaxLineMessage", "", 300, " is empty; the default 300 is taken"},
           {"FloodStopper", "200", 200, range("FloodStopper") + "200 is taken as written"},
           {"FloodStopper", "abc", 0,
            range("FloodStopper") + "0 is taken (it does not begin with a digit)"},
           {"FloodStopper", " 20 AFS", 20,
            range("FloodStopper") + "20 is taken (the number it begins with)"},
           // The limits: a whole number in range, else the default.
           {"MaxPacketSize", "63", 69632, range("MaxPacketSize") + "the default 69632 is taken"},
           {"MaxUsersPerConnection", "0", 2,
            range("MaxUsersPerConnection") + "the default 2 is taken"},
           {"BoardQuota", "-1", 16 << 20, range("BoardQuota") + "the default 16777216 is taken"},
           {"BoardFileLimit", "1 MB", 65536,
            range("BoardFileLimit") + "the default 65536 is taken"},
           {"IdleTimeout", "5s", 0, range("IdleTimeout") + "the default 0 is taken"},
           {"MaxConnectionsPerAddress", "", 256,
            range("MaxConnectionsPerAddress") + "the default 256 is taken"},
           {"MaxConnectionsPerAddress", "0", 0, ""},
           {"MaxInputRate", "256K", 262144, range("MaxInputRate") + "the default 262144 is taken"},
           {"MaxInputRate", "0", 0, ""},
           {"LogKeepDays", "30.5", 0, range("LogKeepDays") + "the default 0 is taken"},
           {"LogKeepDays", " 30 ", 30, ""}}) {
    const SettingsReading reading =
        ReadSettingsContent(Block("ServerPort", "9010") + Block(c.key, c.value), kFile);
    EXPECT_EQ(NumberOf(reading.values, c.key), c.taken) << c.key << " " << c.value;
    std::vector<std::string> texts;
    for (const SettingsProblem& problem : reading.problems) {
      EXPECT_FALSE(problem.error) << problem.text;
      EXPECT_TRUE(problem.atStart);
      texts.push_back(problem.text);
    }
    // Block() writes an empty value as one empty line, which reads as a line break.
    const std::string shown = c.value.empty() ? "\\n" : c.value;
    const std::vector<std::string> expected =
        c.said.empty()
            ? std::vector<std::string>{}
            : std::vector<std::string>{c.key + " \"" + shown + "\" in " + kFile.string() + c.said};
    EXPECT_EQ(texts, expected);
  }

  // Names shorter than 2 characters give the defaults the README names.
  for (const auto& [key, fallback] : std::vector<std::pair<std::string, std::string>>{
           {"ServerName", "the default name \"DIVIV\""}, {"ServerLanguage", "\"english\""}}) {
    const auto warned = ProblemsWith(Block(key, " Z "), false);
    EXPECT_EQ(warned,
              std::vector<std::string>{key + " \" Z \" in " + kFile.string() +
                                       " is shorter than 2 characters; " + fallback + " is taken"});
  }
  const SettingsReading shortNames = ReadSettingsContent(
      Block("ServerPort", "9010") + Block("ServerName", "Z") + Block("ServerLanguage", ""), kFile);
  EXPECT_EQ(shortNames.values.ServerName, "DIVIV");
  EXPECT_EQ(shortNames.values.ServerLanguage, "english");

  // A file that gives only the port leaves every other key at the record's default.
  const SettingsReading portOnly = ReadSettingsContent(Block("ServerPort", "9010"), kFile);
  EXPECT_TRUE(portOnly.problems.empty());
  for (const SettingRow& row : SettingRows()) {
    if (row.read != SettingRead::kPort) {
      EXPECT_EQ(ValueText(row, portOnly.values), ValueText(row, Settings{})) << row.key;
    }
  }
}

TEST(SettingsCheck, ABlockThatIsNotClosedIsNamedWithItsLine) {
  const std::string file = "comment\n" + Block("ServerPort", "9010") +  // lines 2 to 4
                           "<ServerName>\nLobby\n" +                    // line 5
                           Block("ServerIP", "10.0.0.1") + "<ServerWelcomeMessage>\nHi\n";
  const SettingsReading reading = ReadSettingsContent(file, kFile);
  ASSERT_EQ(reading.problems.size(), 2u);
  EXPECT_FALSE(reading.problems[0].error);
  EXPECT_EQ(reading.problems[0].text,
            "The <ServerName> block at line 5 of " + kFile.string() +
                " is not closed (no line </ServerName> follows it); the default name \"DIVIV\" "
                "is taken");
  EXPECT_EQ(reading.problems[1].text,
            "The <ServerWelcomeMessage> block at line 10 of " + kFile.string() +
                " is not closed (no line </ServerWelcomeMessage> follows it); it is read as "
                "empty, so the message is not sent");
  EXPECT_EQ(reading.values.ServerName, "DIVIV");
  // The blocks of other keys are read as ever.
  EXPECT_EQ(reading.values.ServerIP, "10.0.0.1");
  EXPECT_EQ(reading.values.ServerPort, 9010);

  // Without its closing line the port is not there: an error that says why.
  for (const std::string& unclosed : std::vector<std::string>{
           "<ServerPort>\r\n9010\r\n", "</ServerPort>\n<ServerPort>\n9010\n"}) {
    const auto problems = CheckSettingsContent("note\n" + unclosed, kFile);
    ASSERT_EQ(problems.size(), 1u) << unclosed;
    EXPECT_TRUE(problems[0].error);
    EXPECT_EQ(problems[0].text, "The <ServerPort> block at line " +
                                    std::to_string(unclosed[1] == '/' ? 3 : 2) + " of " +
                                    kFile.string() +
                                    " is not closed (no line </ServerPort> follows it), so "
                                    "there is no port to listen on");
  }

  // A block closed once, then opened again, reads as its first block; a line in angle
  // brackets that names no setting is a comment.
  const SettingsReading twice =
      ReadSettingsContent(Block("ServerPort", "9010") + Block("ServerName", "Lobby") +
                              "<ServerName>\nOther\n" + "<This is a comment>\n",
                          kFile);
  EXPECT_TRUE(twice.problems.empty()) << twice.problems[0].text;
  EXPECT_EQ(twice.values.ServerName, "Lobby");
}

TEST(SettingsCheck, NamesLanguagesEmptyFilesAndUnknownKeys) {
  // A path for a language name would read a file outside language/.
  EXPECT_EQ(ProblemsWith(Block("ServerLanguage", "../secret")),
            std::vector<std::string>{"ServerLanguage \"../secret\" in " + kFile.string() +
                                     " is not a language name: give the NAME of a file "
                                     "language/lang_NAME.cfg"});
  EXPECT_TRUE(ProblemsWith(Block("ServerLanguage", "german")).empty());

  for (const std::string& empty :
       {std::string(), std::string("just a comment\r\n"), std::string("<just a note>\r\n")}) {
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
  // Several, in the order of the file.
  EXPECT_EQ(
      ProblemsWith(Block("Zone", "1") + Block("Area", "2"), false),
      (std::vector<std::string>{"Unknown setting Zone in " + kFile.string() + " is ignored",
                                "Unknown setting Area in " + kFile.string() + " is ignored"}));
}

TEST(SettingsCheck, AFileThatCannotBeReadIsOneError) {
  const auto problems = CheckSettingsFile("/nonexistent/orvchatserver.cfg");
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_TRUE(problems[0].error);
  EXPECT_NE(problems[0].text.find("/nonexistent/orvchatserver.cfg"), std::string::npos);
}

}  // namespace
}  // namespace orv
