// What is wrong with a settings file, key by key, before the server runs on it or takes it
// on a reload: a port or an address that cannot be what the operator meant, numbers that
// are not numbers, a file without settings. Each problem names the key, the value as
// written and the file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

struct SettingsProblem {
  // Errors stop the start (and a reload); warnings only tell of something the server
  // works around (a missing language file, a key it does not know).
  bool error = true;
  std::string text;
  // Said on stderr at the start too (warnings the server does not report by itself later).
  bool atStart = true;  // one sentence, UTF-8 where the file is ASCII, else the file's bytes
};

// Leading and trailing blanks (spaces, tabs, line breaks) removed.
std::string TrimBlanks(std::string_view text);

// A whole number of decimal digits (no sign, no blanks) from low to high.
std::optional<std::int64_t> ParseWholeNumber(std::string_view text, std::int64_t low,
                                             std::int64_t high);

// Four dotted decimal numbers of 0 to 255 each, without leading zeros.
bool IsIpv4Address(std::string_view text);

// A language name that stays a file name inside language/ (no separators, no "..").
bool IsUsableLanguageName(std::string_view name);

// The numbers the settings file may hold, with the range each accepts.
struct NumberSetting {
  const char* key;
  std::int64_t low;
  std::int64_t high;
  const char* meaning;  // what the number is, for the problem text
};
const std::vector<NumberSetting>& NumberSettings();

// Every problem of the settings file (empty: it is fine). A file that cannot be read is
// one error.
std::vector<SettingsProblem> CheckSettingsFile(const std::filesystem::path& file);

// The same for content already read from file (file names the file in the texts).
std::vector<SettingsProblem> CheckSettingsContent(std::string_view content,
                                                  const std::filesystem::path& file);

}  // namespace orv
