// What must hold before the engine starts: the working folder exists, its settings file can
// be read, and the operator's substitution alphabets (if any) are usable. Problems are told
// in words a person can act on.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "protocol/wire_codec.h"

namespace orv {

struct StartupCheck {
  std::filesystem::path workDir;   // absolute
  std::optional<WireCodec> codec;  // set when every check passed
  std::string error;               // the sentence to print, without the program name
};

StartupCheck CheckStartup(const std::filesystem::path& workDir);

}  // namespace orv
