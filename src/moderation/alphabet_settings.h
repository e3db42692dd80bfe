// The substitution pair a settings file asks for, checked the same way for the server and
// for the tools that talk to it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "protocol/wire_codec.h"

namespace orv {

// The codec the settings ask for: ServerPlainAlphabet and ServerWireAlphabet both given, or
// both missing (the built-in pair). Nothing, with error set, otherwise.
std::optional<WireCodec> CodecFromSettings(const std::filesystem::path& settingsFile,
                                           std::string* error);

}  // namespace orv
