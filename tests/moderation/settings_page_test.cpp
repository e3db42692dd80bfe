// The manual page of the settings file, docs/orvchatserver.cfg.5, against the server: every
// key it knows is on the page, with the default it takes when the key is missing and the
// range it accepts.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "moderation/settings_check.h"
#include "moderation/settings_loader.h"
#include "moderation/settings_table.h"
#include "support/fixed_clock.h"
#include "support/recording_sink.h"
#include "support/temp_folder.h"

namespace orv {
namespace {

using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

const std::filesystem::path kSourceDir = ORV_SOURCE_DIR;

// One key's entry in the page's SETTINGS section.
struct PageEntry {
  std::string text;  // the entry's words, roff escapes resolved
  std::optional<std::string> defaultValue;
  std::optional<std::pair<std::int64_t, std::int64_t>> range;
};

std::string PlainText(std::string line) {
  line = std::regex_replace(line, std::regex(R"(\\f[BIRP])"), "");
  line = std::regex_replace(line, std::regex(R"(\\-)"), "-");
  line = std::regex_replace(line, std::regex(R"(\\e)"), "\\");
  return line;
}

// Entries are ".TP", then ".B Key" (".TQ" and another ".B Key" for a key that shares the
// entry), then the text up to the next ".TP", ".SS" or ".SH".
std::map<std::string, PageEntry> ReadPage(const std::filesystem::path& page) {
  std::istringstream in(ReadFile(page));
  std::map<std::string, PageEntry> entries;
  std::vector<std::string> keys;  // of the entry being read
  std::string text;
  bool inSettings = false;
  bool expectKey = false;
  auto finish = [&] {
    for (const std::string& key : keys) {
      PageEntry& entry = entries[key];
      entry.text = text;
      std::smatch match;
      if (std::regex_search(text, match, std::regex(R"(Default: (.*?)\.(\s|$))"))) {
        entry.defaultValue = match[1];
      }
      if (std::regex_search(text, match, std::regex(R"(Range: (\d+) to (\d+)\.)"))) {
        entry.range = {std::stoll(match[1]), std::stoll(match[2])};
      }
    }
    keys.clear();
    text.clear();
  };
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(".SH", 0) == 0) {
      finish();
      inSettings = line == ".SH SETTINGS";
    } else if (!inSettings) {
      continue;
    } else if (line == ".TP") {
      finish();
      expectKey = true;
    } else if (line == ".TQ") {
      expectKey = true;
    } else if (line.rfind(".SS", 0) == 0) {
      finish();
    } else if (expectKey && line.rfind(".B ", 0) == 0) {
      keys.push_back(line.substr(3));
      expectKey = false;
    } else if (!keys.empty() && line.rfind('.', 0) != 0) {
      text += PlainText(line) + " ";
    } else if (!keys.empty() && line.find(' ') != std::string::npos) {
      text += PlainText(line.substr(line.find(' ') + 1)) + " ";  // ".B word" and the like
    }
  }
  finish();
  return entries;
}

// What the server holds after a start from a file that gives only the port.
Settings DefaultsOfAStart() {
  TempFolder dir;
  WriteFile(dir / kSettingsFileName, "<ServerPort>\n9010\n</ServerPort>\n");
  testing::FixedClock clock(testing::MakeTime(2026, 1, 2, 3, 4, 5));
  Settings settings;
  LogWriter log(dir.Path(), clock);
  testing::RecordingSink sink;
  Console console(settings, log, clock, sink);
  LanguageTable language;
  SettingsLoadContext context{dir.Path(),
                              settings,
                              language,
                              log,
                              console,
                              nullptr,
                              [](const std::string& ip) { return ip; }};
  LoadSettings(context);
  return settings;
}

bool MentionsKey(const std::vector<SettingsProblem>& problems, const std::string& key) {
  for (const SettingsProblem& problem : problems) {
    if (problem.text.find(key) != std::string::npos) return true;
  }
  return false;
}

TEST(SettingsPage, EveryNumberSettingIsOnThePageWithItsDefaultAndRange) {
  const auto page = ReadPage(kSourceDir / "docs/orvchatserver.cfg.5");
  ASSERT_FALSE(page.empty()) << "no entries read from the page";
  const Settings defaults = DefaultsOfAStart();
  std::set<std::string> numberKeys;
  for (const SettingRow& number : SettingRows()) {
    if (!number.IsNumber()) continue;
    const std::string key = number.key;
    numberKeys.insert(key);
    const auto entry = page.find(key);
    if (entry == page.end()) {
      ADD_FAILURE() << key << " is a setting of the server but not on the page";
      continue;
    }
    ASSERT_TRUE(entry->second.range) << key << ": the page gives no \"Range: LOW to HIGH.\"";
    EXPECT_EQ(entry->second.range->first, number.low) << key;
    EXPECT_EQ(entry->second.range->second, number.high) << key;
    EXPECT_EQ(entry->second.defaultValue, std::to_string(NumberValue(number, defaults))) << key;
  }
  // A number on the page that the server does not take as one.
  for (const auto& [key, entry] : page) {
    if (entry.range && key != "ServerPort") {
      EXPECT_TRUE(numberKeys.count(key)) << key << " has a range on the page only";
    }
  }
}

TEST(SettingsPage, TheOtherSettingsAreKnownAndTheirDefaultsAreTheServers) {
  const auto page = ReadPage(kSourceDir / "docs/orvchatserver.cfg.5");
  // Every key on the page is one the server knows: a block of each draws no warning.
  std::string everyKey;
  for (const auto& [key, entry] : page) {
    everyKey += "<" + key + ">\n" + (key == "ServerPort" ? "9010" : "") + "\n</" + key + ">\n";
  }
  for (const SettingsProblem& problem : CheckSettingsContent(everyKey, "page.cfg")) {
    EXPECT_EQ(problem.text.find("Unknown setting"), std::string::npos) << problem.text;
  }
  // Every key the server reads is on the page.
  for (const SettingRow& row : SettingRows())
    EXPECT_TRUE(page.count(row.key))
        << row.key << " is a setting of the server but not on the page";
  // Keys the shipped settings files use are on the page.
  const std::regex blockStart(R"(<(\w+)>\r?)");
  for (const char* file : {"workdir/orvchatserver.cfg", "packaging/orvchatserver.cfg"}) {
    std::istringstream content(ReadFile(kSourceDir / file));
    std::smatch match;
    for (std::string line; std::getline(content, line);) {
      if (std::regex_match(line, match, blockStart)) {
        EXPECT_TRUE(page.count(match[1])) << file << ": " << match[1] << " is not on the page";
      }
    }
  }

  const Settings defaults = DefaultsOfAStart();
  auto defaultOf = [&page](const std::string& key) {
    const auto entry = page.find(key);
    return entry == page.end() ? std::optional<std::string>() : entry->second.defaultValue;
  };
  EXPECT_EQ(defaultOf("ServerName"), defaults.ServerName);
  EXPECT_EQ(defaultOf("ServerLanguage"), defaults.ServerLanguage);
  EXPECT_EQ(defaultOf("ServerIP"), "empty");
  EXPECT_EQ(defaults.ServerIP, "");

  // The port has no default, and its range is the one the check takes.
  ASSERT_TRUE(page.count("ServerPort"));
  EXPECT_EQ(defaultOf("ServerPort"), "none (required)");
  EXPECT_TRUE(MentionsKey(CheckSettingsContent("<ServerName>\nx1\n</ServerName>\n", "a.cfg"),
                          "ServerPort"));
  const auto range = page.at("ServerPort").range;
  ASSERT_TRUE(range);
  auto port = [](std::int64_t value) {
    return CheckSettingsContent("<ServerPort>\n" + std::to_string(value) + "\n</ServerPort>\n",
                                "a.cfg");
  };
  EXPECT_TRUE(MentionsKey(port(range->first - 1), "ServerPort"));
  EXPECT_FALSE(MentionsKey(port(range->first), "ServerPort"));
  EXPECT_FALSE(MentionsKey(port(range->second), "ServerPort"));
  EXPECT_TRUE(MentionsKey(port(range->second + 1), "ServerPort"));
}

}  // namespace
}  // namespace orv
