#include "settings_codec.h"

#include "moderation/tagged_file.h"

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
  const std::string plain = ReadTaggedValue(file, "ServerPlainAlphabet");
  if (plain == kReadFalse) {
    *error = "cannot read the settings file " + file.string();
    return std::nullopt;
  }
  const std::string wire = ReadTaggedValue(file, "ServerWireAlphabet");
  if (serverName != nullptr) {
    const std::string name = Trim(ReadTaggedValue(file, "ServerName"));
    if (name.size() >= 2) *serverName = name;
  }
  if (plain.empty() && wire.empty()) return WireCodec::BuiltIn();
  if (plain.empty() || wire.empty()) {
    *error = file.string() + " holds only one of ServerPlainAlphabet and ServerWireAlphabet";
    return std::nullopt;
  }
  std::string why;
  auto codec = WireCodec::FromAlphabets(plain, wire, &why);
  if (!codec) *error = "the alphabets in " + file.string() + " are not usable: " + why;
  return codec;
}

}  // namespace orv::client
