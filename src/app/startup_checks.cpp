#include "app/startup_checks.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "moderation/settings_loader.h"
#include "moderation/tagged_file.h"

namespace orv {

namespace {

constexpr const char* kPlainKey = "ServerPlainAlphabet";
constexpr const char* kWireKey = "ServerWireAlphabet";

// Why the file cannot be read, in the system's words; empty when it can.
std::string UnreadableReason(const std::filesystem::path& file) {
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec)) {
    return std::make_error_code(std::errc::is_a_directory).message();
  }
  errno = 0;
  std::FILE* handle = std::fopen(file.string().c_str(), "rb");
  if (handle == nullptr) {
    const int code = errno != 0 ? errno : static_cast<int>(std::errc::no_such_file_or_directory);
    return std::generic_category().message(code);
  }
  std::fclose(handle);
  return {};
}

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

StartupCheck CheckStartup(const std::filesystem::path& workDir) {
  StartupCheck result;
  std::error_code ec;
  result.workDir = std::filesystem::absolute(workDir, ec);
  if (ec) result.workDir = workDir;
  result.workDir = result.workDir.lexically_normal();
  if (result.workDir.has_relative_path() && !result.workDir.has_filename()) {
    result.workDir = result.workDir.parent_path();  // no trailing separator in messages
  }

  if (!std::filesystem::is_directory(result.workDir, ec)) {
    const bool exists = std::filesystem::exists(result.workDir, ec);
    result.error = "the working folder " + result.workDir.string() +
                   (exists ? " is not a folder" : " does not exist") +
                   "; give an existing folder with -C DIR";
    return result;
  }
  const std::filesystem::path settings = result.workDir / kSettingsFileName;
  if (std::string reason = UnreadableReason(settings); !reason.empty()) {
    result.error = "cannot read the settings file " + settings.string() + " (" + reason +
                   "); start the server in its working folder or give it with -C DIR";
    return result;
  }
  std::string error;
  result.codec = CodecFromSettings(settings, &error);
  if (!result.codec) result.error = error;
  return result;
}

}  // namespace orv
