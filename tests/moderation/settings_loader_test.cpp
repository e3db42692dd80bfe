#include "moderation/settings_loader.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/fixed_clock.h"
#include "support/recording_sink.h"
#include "support/temp_folder.h"

namespace orv {
namespace {

using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

using testing::RecordingSink;

class LoadSettingsTest : public ::testing::Test {
 protected:
  LoadSettingsTest() {
    std::string strings = "[STRINGS]\r\n";
    for (int i = 0; i <= 40; ++i) {
      strings += "STR" + std::to_string(i) + "=" + Text(i) + "\r\n";
    }
    WriteFile(dir_ / "language/lang_english.cfg", strings);
    WriteFile(dir_ / "language/lang_test.cfg",
              "[STRINGS]\r\nSTR21=Test name:\r\nSTR23=%d test lines\r\n");
  }

  static std::string Text(int n) {
    switch (n) {
      case 0:
        return "on";
      case 1:
        return "off";
      case 4:
        return "Flood stopper:";
      case 9:
        return "Server IP:";
      case 10:
        return "Server port:";
      case 16:
        return "Debug log:";
      case 17:
        return "%d seconds";
      case 20:
        return "Console log:";
      case 21:
        return "Server name:";
      case 23:
        return "Console keeps %i lines";
      default:
        return "string " + std::to_string(n);
    }
  }

  // Writes the settings file from key/value pairs.
  void Settle(const std::vector<std::pair<std::string, std::string>>& blocks) {
    std::string text = "settings for the tests\r\n";
    for (const auto& [key, value] : blocks) {
      text += "<" + key + ">\r\n" + value + "\r\n</" + key + ">\r\n";
    }
    WriteFile(dir_ / kSettingsFileName, text);
  }

  void Load() {
    SettingsLoadContext context{dir_.Path(),
                                settings_,
                                language_,
                                log_,
                                console_,
                                [this](const std::string& t) { title_ = t; },
                                [this](const std::string& ip) {
                                  lookedUp_.push_back(ip);
                                  return mac_.empty() ? ip : mac_;
                                }};
    LoadSettings(context);
  }

  std::string Log() const { return ReadFile(log_.CurrentLogPath()); }

  TempFolder dir_;
  testing::FixedClock clock_{testing::MakeTime(2024, 3, 5, 10, 20, 30)};
  Settings settings_;
  LogWriter log_{dir_.Path(), clock_};
  RecordingSink sink_;
  Console console_{settings_, log_, clock_, sink_};
  LanguageTable language_;
  std::string title_;
  std::string mac_;
  std::vector<std::string> lookedUp_;
};

TEST_F(LoadSettingsTest, FullFileReportsEverySetting) {
  Settle({{"ServerLanguage", " english "},
          {"ServerName", "  Lobby  "},
          {"ServerIP", "192.168.0.10"},
          {"ServerPort", "6000"},
          {"ServerAllowLog", "1"},
          {"DebugLog", "1"},
          {"MaxLineMessage", "500"},
          {"FloodStopper", "20"}});
  mac_ = "00:1A:2B:3C:4D:5E";
  Load();

  EXPECT_EQ(sink_.all,
            (std::vector<std::string>{"Server name: Lobby", "Server IP: 192.168.0.10",
                                      "Server port: 6000", "Console log: on", "Debug log: on",
                                      "Console keeps 500 lines", "Flood stopper: 20 seconds"}));
  EXPECT_EQ(title_, "ORV Chat Server (Lobby)");
  EXPECT_EQ(lookedUp_, std::vector<std::string>{"192.168.0.10"});
  EXPECT_EQ(settings_.ServerLanguage, "english");
  EXPECT_EQ(settings_.ServerName, "Lobby");
  EXPECT_EQ(settings_.ServerIP, "192.168.0.10");
  EXPECT_EQ(settings_.serverMac, "001A2B3C4D5E");
  EXPECT_EQ(settings_.ServerPort, 6000);
  EXPECT_TRUE(settings_.ServerAllowLog);
  EXPECT_TRUE(settings_.DebugLog);
  EXPECT_EQ(settings_.MaxLineMessage, 500);
  EXPECT_EQ(settings_.FloodStopper, 20);
  // Report lines are unstamped on the console and logged.
  EXPECT_NE(Log().find("] Server port: 6000\r\n"), std::string::npos);
}

TEST_F(LoadSettingsTest, OddValuesAreTakenAsTheyAlwaysWereAndTheWarningsShowFirst) {
  Settle({{"ServerLanguage", "x"},
          {"ServerName", " Z "},
          {"ServerIP", "1"},
          {"ServerPort", "0"},
          {"ServerAllowLog", "-3"},
          {"DebugLog", "yes"},
          {"MaxLineMessage", "42lines"},
          {"FloodStopper", "abc"},
          {"IdleTimeout", "-5"},
          {"MaxPacketSize", "10"}});
  Load();
  EXPECT_EQ(settings_.ServerLanguage, "english");
  EXPECT_EQ(settings_.ServerName, "DIVIV");
  EXPECT_EQ(title_, "ORV Chat Server (DIVIV)");
  // The address and the port are errors: the start refuses such a file before the loader
  // sees it; here nothing is taken from them.
  EXPECT_EQ(settings_.ServerIP, "");
  EXPECT_EQ(settings_.serverMac, "");
  EXPECT_EQ(settings_.ServerPort, 0);
  EXPECT_TRUE(settings_.ServerAllowLog);
  EXPECT_FALSE(settings_.DebugLog);
  EXPECT_EQ(settings_.MaxLineMessage, 42);
  EXPECT_EQ(settings_.FloodStopper, 0);
  EXPECT_EQ(settings_.IdleTimeout, 0);
  EXPECT_EQ(settings_.MaxPacketSize, 69632);
  // Each warning once, before the report that shows what was taken; errors are the
  // caller's to tell.
  const std::string in = "\" in " + (dir_ / kSettingsFileName).string();
  ASSERT_EQ(sink_.all.size(), 12u);
  EXPECT_EQ(sink_.all[0], "Warning: ServerLanguage \"x" + in +
                              " is shorter than 2 characters; \"english\" is taken");
  EXPECT_EQ(sink_.all[4].rfind("Warning: MaxLineMessage \"42lines" + in, 0), 0u) << sink_.all[4];
  EXPECT_EQ(sink_.all[6].rfind("Warning: MaxPacketSize \"10" + in, 0), 0u) << sink_.all[6];
  EXPECT_EQ(std::vector<std::string>(sink_.all.begin() + 8, sink_.all.end()),
            (std::vector<std::string>{"Server name: DIVIV", "Console log: on",
                                      "Console keeps 42 lines", "Flood stopper: off"}));
  EXPECT_NE(Log().find("Warning: ServerName \" Z " + in), std::string::npos);
}

TEST_F(LoadSettingsTest, BlanksAroundValuesAreIgnored) {
  Settle({{"ServerLanguage", "test"},
          {"ServerIP", " 10.0.0.1\t"},
          {"ServerPort", " 19404 "},
          {"ServerAllowLog", " 0"},
          {"DebugLog", " 1 "},
          {"MaxLineMessage", "\t42 "},
          {"FloodStopper", " 0"},
          {"LogKeepDays", " 30 "},
          {"BoardQuota", " 5000000000 "}});
  Load();
  EXPECT_EQ(settings_.ServerLanguage, "test");
  EXPECT_EQ(settings_.ServerIP, "10.0.0.1");
  EXPECT_EQ(settings_.ServerPort, 19404);
  EXPECT_FALSE(settings_.ServerAllowLog);
  EXPECT_TRUE(settings_.DebugLog);
  EXPECT_EQ(settings_.MaxLineMessage, 42);
  EXPECT_EQ(settings_.FloodStopper, 0);
  EXPECT_EQ(settings_.LogKeepDays, 30);
  EXPECT_EQ(settings_.BoardQuota, 5000000000);
  // Nothing found for the address: its digits twice over.
  EXPECT_EQ(settings_.serverMac, "1000110001");
  // The test language has few strings; missing ones read as their key names.
  ASSERT_EQ(sink_.all.size(), 7u);
  EXPECT_EQ(sink_.all[0], "Test name: DIVIV");
  EXPECT_EQ(sink_.all[2], "STR10 19404");
  EXPECT_EQ(sink_.all[5], "42 test lines");
}

TEST_F(LoadSettingsTest, AMissingLanguageFileFallsBackToTheBuiltInEnglishTexts) {
  Settle({{"ServerLanguage", "german"}, {"ServerName", "Lobby"}, {"ServerPort", "6000"}});
  Load();
  EXPECT_EQ(settings_.ServerLanguage, "german");
  ASSERT_EQ(language_.Size(), kStringCount);
  EXPECT_EQ(language_.GetString(StringId::kServerStarted), "Server started");
  ASSERT_GE(sink_.all.size(), 2u);
  EXPECT_EQ(sink_.all[0],
            "The language file language/lang_german.cfg cannot be read; the built-in English "
            "texts are used");
  EXPECT_EQ(sink_.all[1], "Server name: Lobby");
  EXPECT_EQ(sink_.all[2], "Server port: 6000");
}

TEST_F(LoadSettingsTest, LinesBeforeTheLogSwitchAreStillLogged) {
  Settle({{"ServerName", "Lobby"},
          {"ServerIP", "10.0.0.1"},
          {"ServerPort", "6000"},
          {"ServerAllowLog", "0"},
          {"FloodStopper", "9"}});
  Load();
  EXPECT_FALSE(settings_.ServerAllowLog);
  const std::string log = Log();
  EXPECT_NE(log.find("Server name: Lobby"), std::string::npos);
  EXPECT_NE(log.find("Server IP: 10.0.0.1"), std::string::npos);
  EXPECT_NE(log.find("Server port: 6000"), std::string::npos);
  EXPECT_EQ(log.find("Console log"), std::string::npos);
  EXPECT_EQ(log.find("Flood stopper"), std::string::npos);
  EXPECT_EQ(sink_.all.back(), "Flood stopper: 9 seconds");
}

TEST(MakeServerMac, ColonsGoOrTheAddressStandsIn) {
  EXPECT_EQ(MakeServerMac("192.168.0.1", "00:1A:2B:3C:4D:5E"), "001A2B3C4D5E");
  EXPECT_EQ(MakeServerMac("192.168.0.1", "192.168.0.1"), "1921680119216801");
  EXPECT_EQ(MakeServerMac("", ""), "");
  EXPECT_EQ(MakeServerMac("fe80::1", "fe80::1"), "fe80::1fe80::1");
}

}  // namespace
}  // namespace orv
