// Start-up reading of orvchatserver.cfg into Settings, with the settings report on the
// console.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "console/console_output.h"
#include "console/language_table.h"
#include "moderation/settings.h"

namespace orv {

struct SettingsLoadContext {
  std::filesystem::path workDir;
  Settings& settings;
  LanguageTable& language;
  const LogWriter& log;
  Console& console;
  std::function<void(const std::string&)> setTitle;          // window title
  std::function<std::string(const std::string&)> lookupMac;  // LookupMacAddress
};

// Reads every setting in order, loads the language file and prints the report lines.
void LoadSettings(SettingsLoadContext& context);

// serverMac from the looked-up address: colons removed; when nothing was found (the
// lookup returned its argument) ServerIP written twice with the dots removed.
std::string MakeServerMac(const std::string& serverIp, const std::string& lookedUp);

inline constexpr const char* kSettingsFileName = "orvchatserver.cfg";
inline constexpr const char* kCommandFileName = "orvchatserver_command.cfg";

}  // namespace orv
