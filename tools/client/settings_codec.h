// The substitution pair a server uses, taken from its settings file: the keys
// ServerPlainAlphabet and ServerWireAlphabet, or the built-in pair when the file has neither.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "protocol/wire_codec.h"

namespace orv::client {

// Nothing, with error set in words, when the file cannot be read or its pair is unusable.
// serverName (when given) receives the file's ServerName, trimmed, or stays as it was.
std::optional<WireCodec> CodecFromSettings(const std::filesystem::path& file,
                                           std::string* serverName, std::string* error);

}  // namespace orv::client
