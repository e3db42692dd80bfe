#include "moderation/alphabet_settings.h"

#include "files/tagged_file.h"

namespace orv {

namespace {

constexpr const char* kPlainKey = "ServerPlainAlphabet";
constexpr const char* kWireKey = "ServerWireAlphabet";

// Empty when value may serve as an alphabet, else what is wrong with it.
std::string AlphabetProblem(const std::string& value) {
  // Tag blocks join value lines, and an empty line stands for a line end: an alphabet
  // must be one line of its own.
  if (value.find('\n') != std::string::npos || value.find('\r') != std::string::npos) {
    return "must be a single line of exactly " + std::to_string(kAlphabetLength) +
           " characters, but it spans several lines";
  }
  std::string problem = CheckAlphabet(value);
  if (!problem.empty()) return "is not usable: " + problem;
  return {};
}

}  // namespace

std::optional<WireCodec> CodecFromSettings(const std::filesystem::path& settingsFile,
                                           std::string* error) {
  const std::string plain = ReadTaggedValue(settingsFile, kPlainKey);
  const std::string wire = ReadTaggedValue(settingsFile, kWireKey);
  auto fail = [&](const std::string& text) -> std::optional<WireCodec> {
    if (error) *error = text + " (in " + settingsFile.string() + ")";
    return std::nullopt;
  };
  if (plain == kReadFalse || wire == kReadFalse) {
    return fail("the settings file cannot be read");
  }
  if (plain.empty() && wire.empty()) return WireCodec::BuiltIn();
  if (plain.empty() || wire.empty()) {
    return fail(std::string(plain.empty() ? kPlainKey : kWireKey) + " is missing: give both " +
                kPlainKey + " and " + kWireKey + ", or neither");
  }
  if (std::string problem = AlphabetProblem(plain); !problem.empty()) {
    return fail(std::string(kPlainKey) + " " + problem);
  }
  if (std::string problem = AlphabetProblem(wire); !problem.empty()) {
    return fail(std::string(kWireKey) + " " + problem);
  }
  std::string codecError;
  auto codec = WireCodec::FromAlphabets(plain, wire, &codecError);
  if (!codec) return fail("the alphabets are not usable: " + codecError);
  return codec;
}

}  // namespace orv
