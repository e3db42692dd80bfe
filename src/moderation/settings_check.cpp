#include "moderation/settings_check.h"

#include <limits>
#include <set>

#include "console/escape.h"
#include "files/cached_file.h"
#include "files/tagged_file.h"

namespace orv {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The keys the server reads; a block with any other name is most likely a typing mistake.
const std::set<std::string, std::less<>>& KnownKeys() {
  static const std::set<std::string, std::less<>> keys = [] {
    std::set<std::string, std::less<>> names = {
        "ServerLanguage",       "ServerName",          "ServerIP",
        "ServerPort",           "ServerPlainAlphabet", "ServerWireAlphabet",
        "ServerWelcomeMessage", "ServerCloseMessage",  "ServerKickMessage",
        "ServerBlockMessage"};
    for (const NumberSetting& number : NumberSettings())
      names.insert(number.key);
    return names;
  }();
  return keys;
}

// Names of the blocks in content: a line "<Name>" with a later line "</Name>".
std::vector<std::string> BlockNames(std::string_view content) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= content.size()) {
    std::size_t end = content.find('\n', start);
    if (end == std::string_view::npos) end = content.size();
    std::string_view line = content.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    start = end + 1;
  }
  std::vector<std::string> names;
  std::set<std::string, std::less<>> closed;
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    const std::string& line = *it;
    if (line.size() > 3 && line.front() == '<' && line[1] == '/' && line.back() == '>') {
      closed.insert(line.substr(2, line.size() - 3));
    } else if (line.size() > 2 && line.front() == '<' && line.back() == '>' &&
               closed.count(std::string_view(line).substr(1, line.size() - 2)) > 0) {
      names.insert(names.begin(), line.substr(1, line.size() - 2));
    }
  }
  return names;
}

std::string Quoted(std::string_view value) {
  return "\"" + EscapeControlCharacters(value) + "\"";
}

}  // namespace

std::string TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back()))
    text.remove_suffix(1);
  return std::string(text);
}

std::optional<std::int64_t> ParseWholeNumber(std::string_view text, std::int64_t low,
                                             std::int64_t high) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < low || value > high) return std::nullopt;
  return value;
}

bool IsIpv4Address(std::string_view text) {
  int parts = 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = text.find('.', start);
    const std::string_view part =
        text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
    // "010" would be octal to some readers and decimal to others: refused.
    if (part.size() > 1 && part.front() == '0') return false;
    if (!ParseWholeNumber(part, 0, 255)) return false;
    ++parts;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return parts == 4;
}

bool IsUsableLanguageName(std::string_view name) {
  return !name.empty() && name.find_first_of("/\\:") == std::string_view::npos &&
         name.find("..") == std::string_view::npos;
}

const std::vector<NumberSetting>& NumberSettings() {
  constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
  static const std::vector<NumberSetting> numbers = {
      {"ServerAllowLog", 0, 1, "1 to write the console lines to logs/, 0 not to"},
      {"DebugLog", 0, 1, "1 to write trace lines to the log, 0 not to"},
      {"MaxLineMessage", 0, kInt32Max, "lines the console keeps"},
      {"FloodStopper", 0, 100, "the default AFS value"},
      {"MaxPacketSize", 64, kInt32Max, "bytes a client may send without ending a packet"},
      {"MaxUsersPerConnection", 1, kInt32Max, "users one connection may hold"},
      {"BoardQuota", 0, std::numeric_limits<std::int64_t>::max() / 10,
       "bytes all board files may take"},
      {"BoardFileLimit", 0, kInt32Max, "bytes one board file may take"},
      {"IdleTimeout", 0, kInt32Max, "seconds without input before a close, 0 for never"},
      {"MaxConnectionsPerAddress", 0, kInt32Max, "connections from one address, 0 for any"},
      {"LogKeepDays", 0, 100000, "days of logs to keep, 0 to keep all"},
  };
  return numbers;
}

std::vector<SettingsProblem> CheckSettingsFile(const std::filesystem::path& file) {
  CachedFile cached(file);
  const std::string* content = cached.Content();
  if (content == nullptr) {
    return {{true, "The settings file " + file.string() + " cannot be read"}};
  }
  return CheckSettingsContent(*content, file);
}

std::vector<SettingsProblem> CheckSettingsContent(std::string_view content,
                                                  const std::filesystem::path& file) {
  std::vector<SettingsProblem> problems;
  const std::string where = " in " + file.string();
  auto error = [&](std::string text) { problems.push_back({true, std::move(text)}); };
  auto warning = [&](std::string text) { problems.push_back({false, std::move(text)}); };

  const std::vector<std::string> names = BlockNames(content);
  if (names.empty()) {
    error("The settings file " + file.string() +
          " holds no settings (no <Key> ... </Key> blocks); at least ServerPort is needed");
    return problems;
  }
  for (const std::string& name : names) {
    if (KnownKeys().count(name) == 0) {
      warning("Unknown setting " + EscapeControlCharacters(name) + where + " is ignored");
    }
  }
  auto has = [&names](std::string_view key) {
    for (const std::string& name : names) {
      if (name == key) return true;
    }
    return false;
  };
  auto read = [&content](std::string_view key) { return ReadTaggedValueFrom(content, key); };

  if (!has("ServerPort")) {
    error("ServerPort is missing" + where +
          ": give the port to listen on, a whole number from 1 to 65535");
  } else {
    const std::string value = read("ServerPort");
    if (!ParseWholeNumber(TrimBlanks(value), 1, 65535)) {
      error("ServerPort " + Quoted(value) + where +
            " is not a port: give a whole number from 1 to 65535");
    }
  }
  if (has("ServerIP")) {
    const std::string value = read("ServerIP");
    const std::string trimmed = TrimBlanks(value);
    if (!trimmed.empty() && !IsIpv4Address(trimmed)) {
      error("ServerIP " + Quoted(value) + where +
            " is not an IPv4 address: give four numbers from 0 to 255 with dots between "
            "them (0.0.0.0 or nothing for every local address)");
    }
  }
  if (has("ServerName")) {
    const std::string value = read("ServerName");
    if (TrimBlanks(value).size() < 2) {
      error("ServerName " + Quoted(value) + where + " is too short: give at least 2 characters");
    }
  }
  if (has("ServerLanguage")) {
    const std::string value = read("ServerLanguage");
    const std::string trimmed = TrimBlanks(value);
    if (trimmed.size() < 2 || !IsUsableLanguageName(trimmed)) {
      error("ServerLanguage " + Quoted(value) + where +
            " is not a language name: give the NAME of a file language/lang_NAME.cfg");
    }
  }
  for (const NumberSetting& number : NumberSettings()) {
    if (!has(number.key)) continue;
    const std::string value = read(number.key);
    if (!ParseWholeNumber(TrimBlanks(value), number.low, number.high)) {
      error(std::string(number.key) + " " + Quoted(value) + where + " is not a whole number from " +
            std::to_string(number.low) + " to " + std::to_string(number.high) + " (" +
            number.meaning + ")");
    }
  }
  return problems;
}

}  // namespace orv
