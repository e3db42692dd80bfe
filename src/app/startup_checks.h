// What must hold before the engine starts: the working folder exists, its settings file can
// be read and holds usable settings, and the operator's substitution alphabets (if any) are
// usable. The same checks, with what the server only works around (a missing language
// file, a missing command file), make --check-config. Problems are told in words a person
// can act on.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "moderation/settings_check.h"
#include "protocol/wire_codec.h"

namespace orv {

struct StartupCheck {
  std::filesystem::path workDir;   // absolute
  std::optional<WireCodec> codec;  // set when no error was found
  // Everything found, errors and warnings, in the order the server reads the files.
  std::vector<SettingsProblem> problems;
  std::string error;  // the errors, one sentence a line, without the program name

  int ErrorCount() const;
};

// Reads everything the server reads at start: settings, alphabets, language file, command
// file and lists.
StartupCheck CheckStartup(const std::filesystem::path& workDir);

}  // namespace orv
