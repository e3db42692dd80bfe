#include "moderation/settings_check.h"

#include <limits>
#include <map>
#include <set>

#include "console/escape.h"
#include "files/cached_file.h"
#include "files/tagged_file.h"
#include "moderation/settings_table.h"

namespace orv {

namespace {

constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Where a key's blocks open and close. A block that opens and is never closed after that
// reads as empty: the reader collects up to the end of the file and then gives up.
struct BlockLines {
  int firstOpen = 0;  // line numbers from 1; 0 for none
  int lastClose = 0;
  bool Given() const { return firstOpen > 0; }
  bool Complete() const { return firstOpen > 0 && lastClose > firstOpen; }
};

std::map<std::string, BlockLines, std::less<>> ScanBlocks(std::string_view content) {
  std::map<std::string, BlockLines, std::less<>> blocks;
  for (const TagLine& tag : TagLines(content)) {
    BlockLines& lines = blocks[tag.key];
    if (tag.closing) {
      lines.lastClose = tag.number;
    } else if (lines.firstOpen == 0) {
      lines.firstOpen = tag.number;
    }
  }
  return blocks;
}

// The decimal digits a value begins with: the way the server has always read numbers
// (a sign or a letter ends them; none read as 0).
struct LeadingNumber {
  std::size_t length = 0;  // digits read
  bool tooLarge = false;   // more than 2147483647
  std::int64_t value = 0;
};

LeadingNumber ReadLeadingNumber(std::string_view text) {
  LeadingNumber number;
  while (number.length < text.size() && IsDigit(text[number.length])) {
    if (!number.tooLarge) {
      number.value = number.value * 10 + (text[number.length] - '0');
      number.tooLarge = number.value > kInt32Max;
    }
    ++number.length;
  }
  return number;
}

std::string Quoted(std::string_view value) {
  return "\"" + EscapeControlCharacters(value) + "\"";
}

// Reads the settings key by key, in the order the server takes them, and keeps what it
// finds to say.
class SettingsReader {
 public:
  SettingsReader(std::string_view content, const std::filesystem::path& file,
                 SettingsReading& reading)
      : content_(content),
        file_(file.string()),
        reading_(reading),
        values_(reading.values),
        blocks_(ScanBlocks(content)) {}

  void Read() {
    if (!HasAnySetting()) {
      Error("The settings file " + file_ +
            " holds no settings (no <Key> ... </Key> blocks); at least ServerPort is needed");
      return;
    }
    // In the order of the file.
    std::map<int, std::string> unknown;
    for (const auto& [name, lines] : blocks_) {
      if (lines.Complete() && FindSetting(name) == nullptr) unknown[lines.firstOpen] = name;
    }
    for (const auto& [line, name] : unknown) {
      Warning("Unknown setting " + EscapeControlCharacters(name) + " in " + file_ + " is ignored");
    }
    for (const SettingRow& row : SettingRows())
      ReadRow(row);
    if (values_.WebConsoleCertificate.empty() != values_.WebConsoleKey.empty()) {
      Error(std::string("WebConsoleCertificate and WebConsoleKey in ") + file_ +
            " go together: give both PEM files for HTTPS, or neither");
    }
  }

 private:
  void Error(std::string text) { reading_.problems.push_back({true, std::move(text)}); }
  void Warning(std::string text) { reading_.problems.push_back({false, std::move(text)}); }

  bool HasAnySetting() const {
    for (const auto& [name, lines] : blocks_) {
      if (lines.Complete() || (lines.Given() && FindSetting(name) != nullptr)) return true;
    }
    return false;
  }

  // "Key "value" in file", the start of every sentence about a value.
  std::string Named(std::string_view key, std::string_view value) const {
    return std::string(key) + " " + Quoted(value) + " in " + file_;
  }

  std::string NotClosed(const std::string& key, int line) const {
    return "The <" + key + "> block at line " + std::to_string(line) + " of " + file_ +
           " is not closed (no line </" + key + "> follows it)";
  }

  // The value of key's block. Nothing when the file has no block for it, or when the
  // block is not closed (said here, with what is taken instead).
  std::optional<std::string> Value(const std::string& key, const std::string& taken) {
    const auto found = blocks_.find(key);
    if (found == blocks_.end() || !found->second.Given()) return std::nullopt;
    if (!found->second.Complete()) {
      Warning(NotClosed(key, found->second.firstOpen) + "; " + taken);
      return std::nullopt;
    }
    return ReadTaggedValueFrom(content_, key);
  }

  void ReadRow(const SettingRow& row) {
    switch (row.read) {
      case SettingRead::kName:
      case SettingRead::kLanguage:
        ReadName(row);
        break;
      case SettingRead::kAddress:
        ReadAddress();
        break;
      case SettingRead::kPort:
        ReadPort();
        break;
      case SettingRead::kAnyNonZero:
        ReadAllowLog(row);
        break;
      case SettingRead::kFromOne:
        ReadFromOne(row);
        break;
      case SettingRead::kAsWritten:
        ReadAsWritten(row);
        break;
      case SettingRead::kInRange:
        ReadInRange(row);
        break;
      case SettingRead::kWebAddress:
        ReadWebConsole();
        break;
      case SettingRead::kPath:
        if (const auto value = Value(row.key, row.meaning)) {
          values_.*std::get<std::string Settings::*>(row.field) = TrimBlanks(*value);
        }
        break;
      case SettingRead::kElsewhere:
        // Read where it is used; here only a block that does not close is told.
        Value(row.key, row.meaning);
        break;
    }
  }

  // The default a file that gives nothing usable leaves, as a warning says it.
  static std::string DefaultTaken(const SettingRow& row) {
    const std::int64_t value = NumberValue(row, Settings{});
    std::string text = "the default " + std::to_string(value);
    if (row.read == SettingRead::kAnyNonZero || row.read == SettingRead::kFromOne)
      text += value != 0 ? " (on)" : " (off)";
    return text + " is taken";
  }

  // A name of at least 2 characters; a shorter one gives the default.
  void ReadName(const SettingRow& row) {
    std::string& field = values_.*std::get<std::string Settings::*>(row.field);
    field = Settings{}.*std::get<std::string Settings::*>(row.field);
    const std::string taken = std::string(row.meaning) + "\"" + field + "\" is taken";
    const std::optional<std::string> value = Value(row.key, taken);
    if (!value) return;
    std::string text = TrimBlanks(*value);
    if (text.size() < 2) {
      Warning(Named(row.key, *value) + " is shorter than 2 characters; " + taken);
    } else if (row.read == SettingRead::kLanguage && !IsUsableLanguageName(text)) {
      Error(Named(row.key, *value) +
            " is not a language name: give the NAME of a file language/lang_NAME.cfg");
    } else {
      field = std::move(text);
    }
  }

  void ReadAddress() {
    const std::optional<std::string> value =
        Value("ServerIP", "ServerIP is taken as empty: the server listens on every local address");
    if (!value) return;
    std::string address = TrimBlanks(*value);
    if (!address.empty() && !IsIpv4Address(address)) {
      Error(Named("ServerIP", *value) +
            " is not an IPv4 address: give four numbers from 0 to 255 with dots between "
            "them (0.0.0.0 or nothing for every local address)");
      return;
    }
    values_.ServerIP = std::move(address);
  }

  // The one setting without which the server cannot serve.
  void ReadPort() {
    const auto found = blocks_.find("ServerPort");
    if (found == blocks_.end() || !found->second.Given()) {
      Error("ServerPort is missing in " + file_ +
            ": give the port to listen on, a whole number from 1 to 65535");
      return;
    }
    if (!found->second.Complete()) {
      Error(NotClosed("ServerPort", found->second.firstOpen) +
            ", so there is no port to listen on");
      return;
    }
    const std::string value = ReadTaggedValueFrom(content_, "ServerPort");
    const std::string text = TrimBlanks(value);
    const LeadingNumber port = ReadLeadingNumber(text);
    if (port.length == 0 || port.tooLarge || port.value < 1 || port.value > 65535) {
      Error(Named("ServerPort", value) + " is not a port: give a whole number from 1 to 65535");
      return;
    }
    values_.ServerPort = static_cast<std::int32_t>(port.value);
    if (port.length < text.size()) {
      Warning(Named("ServerPort", value) + " is not a whole number; " + std::to_string(port.value) +
              " is taken (the number it begins with)");
    }
  }

  // Any number but 0 switches it on: read as a C conversion reads it (a sign allowed).
  void ReadAllowLog(const SettingRow& row) {
    SetNumberValue(row, values_, NumberValue(row, Settings{}));
    const std::optional<std::string> value = Value(row.key, DefaultTaken(row));
    if (!value) return;
    const std::string text = TrimBlanks(*value);
    if (text.empty()) {
      Warning(Named(row.key, *value) + " is empty; " + DefaultTaken(row));
      return;
    }
    reading_.allowLogGiven = true;
    if (const auto whole = ParseWholeNumber(text, row.low, row.high)) {
      SetNumberValue(row, values_, *whole);
      return;
    }
    const std::size_t start = text.front() == '+' || text.front() == '-' ? 1 : 0;
    const LeadingNumber number = ReadLeadingNumber(std::string_view(text).substr(start));
    bool nonZero = false;
    for (std::size_t i = start; i < start + number.length; ++i)
      nonZero = nonZero || text[i] != '0';
    SetNumberValue(row, values_, nonZero ? 1 : 0);
    Warning(Named(row.key, *value) + " is not 0 or 1; " +
            (nonZero             ? "1 (on) is taken (any number but 0 switches it on)"
             : number.length > 0 ? "0 (off) is taken (the number it begins with is 0)"
                                 : "0 (off) is taken (it does not begin with a number)"));
  }

  // A number of 1 or more, read from the digits it begins with, switches it on.
  void ReadFromOne(const SettingRow& row) {
    SetNumberValue(row, values_, NumberValue(row, Settings{}));
    const std::optional<std::string> value = Value(row.key, DefaultTaken(row));
    if (!value) return;
    const std::string text = TrimBlanks(*value);
    if (text.empty()) {
      Warning(Named(row.key, *value) + " is empty; " + DefaultTaken(row));
      return;
    }
    if (const auto whole = ParseWholeNumber(text, row.low, row.high)) {
      SetNumberValue(row, values_, *whole);
      return;
    }
    const LeadingNumber number = ReadLeadingNumber(text);
    const bool on = number.length > 0 && (number.tooLarge || number.value >= 1);
    SetNumberValue(row, values_, on ? 1 : 0);
    Warning(Named(row.key, *value) + " is not 0 or 1; " +
            (on                  ? "1 (on) is taken (any number from 1 up switches it on)"
             : number.length > 0 ? "0 (off) is taken (the number it begins with is 0)"
                                 : "0 (off) is taken (it does not begin with a digit)"));
  }

  // MaxLineMessage and FloodStopper: the digits the value begins with, whatever follows,
  // as written even outside the range (the range is what the server offers itself).
  void ReadAsWritten(const SettingRow& row) {
    SetNumberValue(row, values_, NumberValue(row, Settings{}));
    const std::string fallback = "the default " + std::to_string(NumberValue(row, Settings{}));
    const std::optional<std::string> value = Value(row.key, fallback + " is taken");
    if (!value) return;
    const std::string text = TrimBlanks(*value);
    if (text.empty()) {
      Warning(Named(row.key, *value) + " is empty; " + fallback + " is taken");
      return;
    }
    if (const auto whole = ParseWholeNumber(text, row.low, row.high)) {
      SetNumberValue(row, values_, *whole);
      return;
    }
    const LeadingNumber number = ReadLeadingNumber(text);
    std::string taken;
    if (number.tooLarge) {
      taken = fallback + " is taken (the number is too large)";
    } else if (number.length == 0) {
      SetNumberValue(row, values_, 0);
      taken = "0 is taken (it does not begin with a digit)";
    } else {
      SetNumberValue(row, values_, number.value);
      taken = std::to_string(number.value) + (number.length == text.size()
                                                  ? " is taken as written"
                                                  : " is taken (the number it begins with)");
    }
    Warning(Named(row.key, *value) + " is not a whole number from " + std::to_string(row.low) +
            " to " + std::to_string(row.high) + " (" + row.meaning + "); " + taken);
  }

  // The limits: a whole number in range, else the default.
  void ReadInRange(const SettingRow& row) {
    SetNumberValue(row, values_, NumberValue(row, Settings{}));
    const std::string fallback = DefaultTaken(row);
    const std::optional<std::string> value = Value(row.key, fallback);
    if (!value) return;
    if (const auto whole = ParseWholeNumber(TrimBlanks(*value), row.low, row.high)) {
      SetNumberValue(row, values_, *whole);
      return;
    }
    Warning(Named(row.key, *value) + " is not a whole number from " + std::to_string(row.low) +
            " to " + std::to_string(row.high) + " (" + row.meaning + "); " + fallback);
  }

  // The web console: off unless asked for; an address it cannot listen on (or half of
  // what HTTPS needs, told after all keys are read) is an error: the admin asked for
  // something the server cannot give.
  void ReadWebConsole() {
    const auto value = Value("WebConsole", "it is read as empty, so the web console is off");
    if (!value) return;
    std::string text = TrimBlanks(*value);
    if (!text.empty() && !ParseWebConsoleAddress(text, nullptr, nullptr)) {
      Error(Named("WebConsole", *value) +
            " is not an address and port: give ADDRESS:PORT, an IPv4 address and a port from "
            "1 to 65535 (127.0.0.1:9011; 0.0.0.0 for every local address), or nothing for "
            "no web console");
    } else {
      values_.WebConsole = std::move(text);
    }
  }

  std::string_view content_;
  std::string file_;
  SettingsReading& reading_;
  Settings& values_;
  std::map<std::string, BlockLines, std::less<>> blocks_;
};

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

bool ParseWebConsoleAddress(std::string_view text, std::string* address, std::int32_t* port) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos || !IsIpv4Address(text.substr(0, colon))) return false;
  const std::string_view digits = text.substr(colon + 1);
  if (digits.size() > 1 && digits.front() == '0') return false;
  const auto number = ParseWholeNumber(digits, 1, 65535);
  if (!number) return false;
  if (address) *address = std::string(text.substr(0, colon));
  if (port) *port = static_cast<std::int32_t>(*number);
  return true;
}

bool IsUsableLanguageName(std::string_view name) {
  return !name.empty() && name.find_first_of("/\\:") == std::string_view::npos &&
         name.find("..") == std::string_view::npos;
}

std::vector<SettingsProblem> CheckSettingsFile(const std::filesystem::path& file) {
  CachedFile cached(file);
  const std::string* content = cached.Content();
  if (content == nullptr) {
    return {{true, "The settings file " + file.string() + " cannot be read"}};
  }
  return CheckSettingsContent(*content, file);
}

SettingsReading ReadSettingsContent(std::string_view content, const std::filesystem::path& file) {
  SettingsReading reading;
  SettingsReader(content, file, reading).Read();
  return reading;
}

std::vector<SettingsProblem> CheckSettingsContent(std::string_view content,
                                                  const std::filesystem::path& file) {
  return ReadSettingsContent(content, file).problems;
}

}  // namespace orv
