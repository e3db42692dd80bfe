// How the server reads orvchatserver.cfg, key by key, and what it says about it before it
// runs on it or takes it on a reload. Errors are what the server cannot serve with: no
// port, an address that is none, a language name that is a path, a file without settings.
// Any other odd value is read as the server has always read it (a short name is "DIVIV",
// a number is the digits it begins with, ...) and told as a warning that names the key,
// the value as written, the file and the value taken.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "moderation/settings.h"

namespace orv {

struct SettingsProblem {
  // Errors stop the start (and a reload); warnings tell of something the server reads
  // in its own way or works around (an odd value, a missing language file, a key it does
  // not know).
  bool error = true;
  std::string text;  // one sentence, UTF-8 where the file is ASCII, else the file's bytes
  // Said on stderr at the start too (warnings the server does not report by itself later).
  bool atStart = true;
};

// Leading and trailing blanks (spaces, tabs, line breaks) removed.
std::string TrimBlanks(std::string_view text);

// A whole number of decimal digits (no sign, no blanks) from low to high.
std::optional<std::int64_t> ParseWholeNumber(std::string_view text, std::int64_t low,
                                             std::int64_t high);

// Four dotted decimal numbers of 0 to 255 each, without leading zeros.
bool IsIpv4Address(std::string_view text);

// The web console's "address:port": an IPv4 address and a port from 1 to 65535.
bool ParseWebConsoleAddress(std::string_view text, std::string* address, std::int32_t* port);

// A language name that stays a file name inside language/ (no separators, no "..").
bool IsUsableLanguageName(std::string_view name);

// What the server takes from a settings file, and everything it has to say about it.
struct SettingsReading {
  // ServerLanguage, ServerName, ServerIP, ServerPort, the switches, the numbers and the
  // limits; their defaults where the file gives nothing usable.
  Settings values;
  bool allowLogGiven = false;  // the file gives ServerAllowLog a value (the report shows it)
  std::vector<SettingsProblem> problems;
};

// content is the file's bytes; file names it in the texts.
SettingsReading ReadSettingsContent(std::string_view content, const std::filesystem::path& file);

// Every problem of the settings file (no error: the server can run on it). A file that
// cannot be read is one error.
std::vector<SettingsProblem> CheckSettingsFile(const std::filesystem::path& file);

// The same for content already read from file.
std::vector<SettingsProblem> CheckSettingsContent(std::string_view content,
                                                  const std::filesystem::path& file);

}  // namespace orv
