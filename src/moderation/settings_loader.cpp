#include "moderation/settings_loader.h"

#include <optional>
#include <system_error>

#include "console/safe_format.h"
#include "console/version.h"
#include "files/cached_file.h"
#include "moderation/mac_lookup.h"
#include "moderation/settings_check.h"
#include "moderation/settings_table.h"

namespace orv {

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
  // One read of the file for all the keys below. The start and a reload check the file
  // first; if it went away since, the defaults stand.
  std::error_code ec;
  std::optional<std::string> content;
  if (!std::filesystem::is_directory(file, ec)) content = ReadFileBytes(file);
  const SettingsReading reading = ReadSettingsContent(content ? *content : std::string(), file);
  const Settings& taken = reading.values;
  // Settings report lines carry no time stamp and always go to the log (as far as
  // ServerAllowLog lets them at the moment they are printed).
  auto print = [&context](const std::string& line) {
    context.console.PrintText(line, false, true);
  };
  auto labelled = [&language](StringId label, const std::string& value) {
    return language.GetString(label) + " " + value;
  };

  // 1. Language first: every line below is in it.
  settings.ServerLanguage = taken.ServerLanguage;
  if (!context.language.LoadLanguage(settings.ServerLanguage, context.workDir, context.log)) {
    // A console of bare time stamps helps nobody: the built-in texts stand in.
    context.language.LoadBuiltIn();
    print("The language file language/lang_" + settings.ServerLanguage +
          ".cfg cannot be read; the built-in English texts are used");
  }
  // What the file holds that the server reads in its own way, before the report that
  // shows what it took (the errors are for the start and the reload to tell).
  for (const SettingsProblem& problem : reading.problems) {
    if (!problem.error) print("Warning: " + problem.text);
  }

  // 2. Name, always reported.
  settings.ServerName = taken.ServerName;
  print(labelled(StringId::kServerNameLabel, settings.ServerName));

  // 3. Title.
  if (context.setTitle) {
    context.setTitle(std::string(kProductName) + " (" + settings.ServerName + ")");
  }

  // 4. Address: a dotted IPv4 address, or nothing for every local address.
  settings.ServerIP = taken.ServerIP;
  if (!settings.ServerIP.empty()) print(labelled(StringId::kServerIpLabel, settings.ServerIP));

  // 5. Our identifier in server packets.
  {
    const std::string lookedUp = context.lookupMac ? context.lookupMac(settings.ServerIP)
                                                   : LookupMacAddress(settings.ServerIP);
    settings.serverMac = MakeServerMac(settings.ServerIP, lookedUp);
  }

  // 6. Port.
  settings.ServerPort = taken.ServerPort;
  if (settings.ServerPort != 0) {
    print(labelled(StringId::kServerPortLabel, std::to_string(settings.ServerPort)));
  }

  // 7. Console lines to the log.
  if (reading.allowLogGiven) {
    settings.ServerAllowLog = taken.ServerAllowLog;
    print(labelled(StringId::kLogFileLabel,
                   language.GetString(settings.ServerAllowLog ? StringId::kOn : StringId::kOff)));
  }

  // 8. Trace lines to the log.
  settings.DebugLog = taken.DebugLog;
  if (settings.DebugLog) {
    print(labelled(StringId::kDebugLogLabel, language.GetString(StringId::kOn)));
  }

  // 9. Console length.
  settings.MaxLineMessage = taken.MaxLineMessage;
  print(FormatWithInt(language.GetString(StringId::kConsoleLimit), settings.MaxLineMessage));

  // 10. Everything else (the limits, the upkeep, the web console's) as read, never
  // reported: they rarely change. Then the default AFS value.
  for (const SettingRow& row : SettingRows())
    CopySetting(row, taken, settings);
  if (settings.FloodStopper >= 1) {
    print(labelled(
        StringId::kFloodStopper,
        FormatWithInt(language.GetString(StringId::kFloodStopperValue), settings.FloodStopper)));
  } else {
    print(labelled(StringId::kFloodStopper, language.GetString(StringId::kOff)));
  }
}

}  // namespace orv
