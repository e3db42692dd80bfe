#include "app/startup_checks.h"

#include <cerrno>
#include <fstream>
#include <system_error>

#include "moderation/alphabet_settings.h"
#include "moderation/settings_loader.h"

namespace orv {

namespace {

// Why the file cannot be read, in the system's words; empty when it can.
std::string UnreadableReason(const std::filesystem::path& file) {
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec)) {
    return std::make_error_code(std::errc::is_a_directory).message();
  }
  errno = 0;
  // A stream opens the path as it is (wide on Windows): a narrow copy of a name with
  // letters outside the system's code page would name no file there.
  const std::ifstream handle(file, std::ios::binary);
  if (!handle) {
    const int code = errno != 0 ? errno : static_cast<int>(std::errc::no_such_file_or_directory);
    return std::generic_category().message(code);
  }
  return {};
}

}  // namespace

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
