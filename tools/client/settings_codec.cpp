#include "settings_codec.h"

#include "files/tagged_file.h"
#include "moderation/alphabet_settings.h"

namespace orv::client {

namespace {

std::string Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && blank(text.back()))
    text.remove_suffix(1);
  return std::string(text);
}

}  // namespace

std::optional<WireCodec> CodecFromSettings(const std::filesystem::path& file,
                                           std::string* serverName, std::string* error) {
  // The server's own reading, so that the tools accept exactly the pairs it accepts.
  auto codec = orv::CodecFromSettings(file, error);
  if (codec && serverName != nullptr) {
    const std::string name = Trim(ReadTaggedValue(file, "ServerName"));
    if (name.size() >= 2) *serverName = name;
  }
  return codec;
}

}  // namespace orv::client
