#include "moderation/settings_loader.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <type_traits>

#include "console/safe_format.h"
#include "console/version.h"
#include "files/tagged_file.h"
#include "moderation/mac_lookup.h"
#include "moderation/settings_check.h"

namespace orv {

namespace {

// The value of a number setting when it is a whole number in the setting's range.
std::optional<std::int64_t> NumberValue(const std::string& value, const char* key) {
  for (const NumberSetting& number : NumberSettings()) {
    if (std::string_view(number.key) == key) {
      return ParseWholeNumber(TrimBlanks(value), number.low, number.high);
    }
  }
  return std::nullopt;
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

  // 1. Language first: every line below is in it. Blanks around any value are ignored.
  settings.ServerLanguage = "english";
  {
    std::string value = TrimBlanks(read("ServerLanguage"));
    if (value.size() >= 2 && IsUsableLanguageName(value))
      settings.ServerLanguage = std::move(value);
  }
  if (!context.language.LoadLanguage(settings.ServerLanguage, context.workDir, context.log)) {
    // A console of bare time stamps helps nobody: the built-in texts stand in.
    context.language.LoadBuiltIn();
    print("The language file language/lang_" + settings.ServerLanguage +
          ".cfg cannot be read; the built-in English texts are used");
  }

  // 2. Name, always reported.
  {
    std::string value = TrimBlanks(read("ServerName"));
    settings.ServerName = value.size() >= 2 ? std::move(value) : std::string("DIVIV");
  }
  print(labelled(StringId::kServerNameLabel, settings.ServerName));

  // 3. Title.
  if (context.setTitle) {
    context.setTitle(std::string(kProductName) + " (" + settings.ServerName + ")");
  }

  // 4. Address: a dotted IPv4 address, or nothing for every local address.
  {
    std::string value = TrimBlanks(read("ServerIP"));
    if (IsIpv4Address(value)) {
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

  // 6. Port: a whole number from 1 to 65535.
  {
    const std::string value = TrimBlanks(read("ServerPort"));
    if (const auto port = ParseWholeNumber(value, 1, 65535)) {
      settings.ServerPort = static_cast<std::int32_t>(*port);
      print(labelled(StringId::kServerPortLabel, value));
    }
  }

  // 7. Console lines to the log.
  if (const auto value = NumberValue(read("ServerAllowLog"), "ServerAllowLog")) {
    settings.ServerAllowLog = *value != 0;
    print(labelled(StringId::kLogFileLabel,
                   language.GetString(settings.ServerAllowLog ? StringId::kOn : StringId::kOff)));
  }

  // 8. Trace lines to the log.
  settings.DebugLog = false;
  if (const auto value = NumberValue(read("DebugLog"), "DebugLog"); value && *value >= 1) {
    settings.DebugLog = true;
    print(labelled(StringId::kDebugLogLabel, language.GetString(StringId::kOn)));
  }

  // 9. Console length.
  settings.MaxLineMessage = 300;
  if (const auto value = NumberValue(read("MaxLineMessage"), "MaxLineMessage")) {
    settings.MaxLineMessage = static_cast<std::int32_t>(*value);
  }
  print(FormatWithInt(language.GetString(StringId::kConsoleLimit), settings.MaxLineMessage));

  // 10. The default AFS value.
  settings.FloodStopper = 15;
  if (const auto value = NumberValue(read("FloodStopper"), "FloodStopper")) {
    settings.FloodStopper = static_cast<std::int32_t>(*value);
  }
  // 11. Limits and upkeep: taken when the value is a number in range, never reported (they
  // rarely change).
  auto limit = [&read](const char* key, auto& field) {
    using Field = std::remove_reference_t<decltype(field)>;
    if (const auto value = NumberValue(read(key), key)) field = static_cast<Field>(*value);
  };
  limit("MaxPacketSize", settings.MaxPacketSize);
  limit("MaxUsersPerConnection", settings.MaxUsersPerConnection);
  limit("BoardQuota", settings.BoardQuota);
  limit("BoardFileLimit", settings.BoardFileLimit);
  limit("IdleTimeout", settings.IdleTimeout);
  limit("MaxConnectionsPerAddress", settings.MaxConnectionsPerAddress);
  limit("LogKeepDays", settings.LogKeepDays);

  if (settings.FloodStopper >= 1) {
    print(labelled(
        StringId::kFloodStopper,
        FormatWithInt(language.GetString(StringId::kFloodStopperValue), settings.FloodStopper)));
  } else {
    print(labelled(StringId::kFloodStopper, language.GetString(StringId::kOff)));
  }
}

}  // namespace orv
