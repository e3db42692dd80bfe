#include "moderation/settings_loader.h"

#include <cstdint>
#include <limits>
#include <string_view>
#include <type_traits>

#include "console/safe_format.h"
#include "console/version.h"
#include "files/tagged_file.h"
#include "moderation/mac_lookup.h"
#include "protocol/text_fields.h"

namespace orv {

namespace {

bool IsWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string TrimWhiteSpace(const std::string& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && IsWhiteSpace(text[first]))
    ++first;
  while (last > first && IsWhiteSpace(text[last - 1]))
    --last;
  return text.substr(first, last - first);
}

// Whether the standard decimal conversion of text (leading white space skipped, one sign
// accepted) gives a non-zero number. Only zero-ness matters, so overflow cannot occur.
bool ConvertsToNonZero(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size() && IsWhiteSpace(text[pos]))
    ++pos;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
    if (text[pos] != '0') return true;
  }
  return false;
}

}  // namespace

std::string MakeServerMac(const std::string& serverIp, const std::string& lookedUp) {
  std::string mac;
  mac.reserve(lookedUp.size());
  for (const char c : lookedUp) {
    if (c != ':') mac += c;
  }
  // The lookup hands its argument back when it found nothing; then the address's digits,
  // twice over, stand in for the hardware address.
  if (mac == serverIp || lookedUp == serverIp) {
    mac.clear();
    for (const char c : serverIp + serverIp) {
      if (c != '.') mac += c;
    }
  }
  return mac;
}

void LoadSettings(SettingsLoadContext& context) {
  Settings& settings = context.settings;
  const LanguageTable& language = context.language;
  const std::filesystem::path file = context.workDir / kSettingsFileName;
  // One read of the file for all the keys below.
  TaggedFile settingsFile(file);
  auto read = [&settingsFile](const char* key) { return settingsFile.Read(key); };
  // Settings report lines carry no time stamp and always go to the log (as far as
  // ServerAllowLog lets them at the moment they are printed).
  auto print = [&context](const std::string& line) {
    context.console.PrintText(line, false, true);
  };
  auto labelled = [&language](StringId label, const std::string& value) {
    return language.GetString(label) + " " + value;
  };

  // 1. Language first: every line below is in it.
  settings.ServerLanguage = "english";
  {
    std::string value = TrimWhiteSpace(read("ServerLanguage"));
    if (value.size() >= 2) settings.ServerLanguage = std::move(value);
  }
  context.language.LoadLanguage(settings.ServerLanguage, context.workDir, context.log);

  // 2. Name, always reported.
  {
    std::string value = TrimWhiteSpace(read("ServerName"));
    settings.ServerName = value.size() >= 2 ? std::move(value) : std::string("DIVIV");
  }
  print(labelled(StringId::kServerNameLabel, settings.ServerName));

  // 3. Title.
  if (context.setTitle) {
    context.setTitle(std::string(kProductName) + " (" + settings.ServerName + ")");
  }

  // 4. Address, taken as read.
  {
    std::string value = read("ServerIP");
    if (value.size() >= 2) {
      settings.ServerIP = std::move(value);
      print(labelled(StringId::kServerIpLabel, settings.ServerIP));
    }
  }

  // 5. Our identifier in server packets.
  {
    const std::string lookedUp = context.lookupMac ? context.lookupMac(settings.ServerIP)
                                                   : LookupMacAddress(settings.ServerIP);
    settings.serverMac = MakeServerMac(settings.ServerIP, lookedUp);
  }

  // 6. Port: leading digits; the report shows the text as read.
  {
    const std::string value = read("ServerPort");
    if (value.size() >= 2) {
      settings.ServerPort = ParseLeadingNumber(value);
      print(labelled(StringId::kServerPortLabel, value));
    }
  }

  // 7. Console lines to the log.
  {
    const std::string value = read("ServerAllowLog");
    if (!value.empty()) {
      settings.ServerAllowLog = ConvertsToNonZero(value);
      print(labelled(StringId::kLogFileLabel,
                     language.GetString(settings.ServerAllowLog ? StringId::kOn : StringId::kOff)));
    }
  }

  // 8. Trace lines to the log.
  settings.DebugLog = false;
  {
    const std::string value = read("DebugLog");
    if (!value.empty() && ParseLeadingNumber(value) >= 1) {
      settings.DebugLog = true;
      print(labelled(StringId::kDebugLogLabel, language.GetString(StringId::kOn)));
    }
  }

  // 9. Console length.
  settings.MaxLineMessage = 300;
  {
    const std::string value = read("MaxLineMessage");
    if (!value.empty()) settings.MaxLineMessage = ParseLeadingNumber(value);
  }
  print(FormatWithInt(language.GetString(StringId::kConsoleLimit), settings.MaxLineMessage));

  // 10. The default AFS value.
  settings.FloodStopper = 15;
  {
    const std::string value = read("FloodStopper");
    if (!value.empty()) settings.FloodStopper = ParseLeadingNumber(value);
  }
  // 11. Limits: taken when the value is a number, never reported (they rarely change).
  auto limit = [&read](const char* key, auto& field) {
    using Field = std::remove_reference_t<decltype(field)>;
    const std::string value = TrimWhiteSpace(read(key));
    if (value.empty() || value.front() < '0' || value.front() > '9') return;
    // Leading digits; a number too large for the field stands for its largest value.
    Field number = 0;
    for (const char c : value) {
      if (c < '0' || c > '9') break;
      const int digit = c - '0';
      if (number > (std::numeric_limits<Field>::max() - digit) / 10) {
        number = std::numeric_limits<Field>::max();
        break;
      }
      number = static_cast<Field>(number * 10 + digit);
    }
    field = number;
  };
  limit("MaxPacketSize", settings.MaxPacketSize);
  limit("MaxUsersPerConnection", settings.MaxUsersPerConnection);
  limit("BoardQuota", settings.BoardQuota);
  limit("BoardFileLimit", settings.BoardFileLimit);
  limit("IdleTimeout", settings.IdleTimeout);
  limit("MaxConnectionsPerAddress", settings.MaxConnectionsPerAddress);

  if (settings.FloodStopper >= 1) {
    print(labelled(
        StringId::kFloodStopper,
        FormatWithInt(language.GetString(StringId::kFloodStopperValue), settings.FloodStopper)));
  } else {
    print(labelled(StringId::kFloodStopper, language.GetString(StringId::kOff)));
  }
}

}  // namespace orv
