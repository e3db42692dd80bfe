#include "app/startup_checks.h"

#include <cerrno>
#include <fstream>
#include <system_error>

#include "console/string_id.h"
#include "files/cached_file.h"
#include "files/profile_file.h"
#include "files/tagged_file.h"
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

void CheckAlphabets(const std::filesystem::path& settings, std::optional<WireCodec>* codec,
                    std::vector<SettingsProblem>* problems) {
  std::string error;
  *codec = CodecFromSettings(settings, &error);
  if (!*codec) problems->push_back({true, error});
}

// The files the server reads later, which it works around when they are missing.
void CheckOtherFiles(const std::filesystem::path& workDir, const std::filesystem::path& settings,
                     std::vector<SettingsProblem>* problems) {
  // The server reports each of these itself when it meets it.
  auto warning = [problems](std::string text) {
    problems->push_back({false, std::move(text), false});
  };

  std::string language = TrimBlanks(ReadTaggedValue(settings, "ServerLanguage"));
  if (language.size() < 2 || !IsUsableLanguageName(language)) language = "english";
  const std::filesystem::path languageFile = workDir / "language" / ("lang_" + language + ".cfg");
  CachedFile strings(languageFile);
  std::error_code ec;
  if (std::filesystem::is_directory(languageFile, ec) || strings.Content() == nullptr) {
    warning("The language file " + languageFile.string() +
            " cannot be read; the built-in English texts will be used");
  } else {
    const ProfileData data(*strings.Content());
    std::string missing;
    for (int i = 0; i < kStringCount; ++i) {
      const std::string key = "STR" + std::to_string(i);
      if (!data.HasNonEmpty("STRINGS", key)) missing += (missing.empty() ? "" : ", ") + key;
    }
    if (!missing.empty()) {
      warning("The language file " + languageFile.string() + " has no text for " + missing +
              "; the key names stand in");
    }
  }

  const std::filesystem::path commandFile = workDir / kCommandFileName;
  if (std::string reason = UnreadableReason(commandFile); !reason.empty()) {
    warning("The command file " + commandFile.string() + " cannot be read (" + reason +
            "); command answers and profile texts will be empty");
  }

  const std::filesystem::path data = workDir / "data";
  if (!std::filesystem::is_directory(data, ec)) {
    warning("The folder " + data.string() +
            " is missing; blocks and AFS values cannot be stored until it exists");
    return;
  }
  for (const char* name : {"blocklist.cfg", "afs.cfg"}) {
    const std::filesystem::path list = data / name;
    if (!std::filesystem::exists(list, ec)) continue;  // an empty list
    if (std::string reason = UnreadableReason(list); !reason.empty()) {
      warning("The list " + list.string() + " cannot be read (" + reason + ")");
    }
  }
}

}  // namespace

int StartupCheck::ErrorCount() const {
  int count = 0;
  for (const SettingsProblem& problem : problems)
    count += problem.error ? 1 : 0;
  return count;
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
  auto finish = [&result]() -> StartupCheck {
    for (const SettingsProblem& problem : result.problems) {
      if (!problem.error) continue;
      if (!result.error.empty()) result.error += "\n";
      result.error += problem.text;
    }
    if (!result.error.empty()) result.codec.reset();
    return result;
  };

  if (!std::filesystem::is_directory(result.workDir, ec)) {
    const bool exists = std::filesystem::exists(result.workDir, ec);
    result.problems.push_back({true, "the working folder " + result.workDir.string() +
                                         (exists ? " is not a folder" : " does not exist") +
                                         "; give an existing folder with -C DIR"});
    return finish();
  }
  const std::filesystem::path settings = result.workDir / kSettingsFileName;
  if (std::string reason = UnreadableReason(settings); !reason.empty()) {
    result.problems.push_back(
        {true, "cannot read the settings file " + settings.string() + " (" + reason +
                   "); start the server in its working folder or give it with -C DIR"});
    return finish();
  }
  std::vector<SettingsProblem> found = CheckSettingsFile(settings);
  result.problems.insert(result.problems.end(), found.begin(), found.end());
  CheckAlphabets(settings, &result.codec, &result.problems);
  CheckOtherFiles(result.workDir, settings, &result.problems);
  return finish();
}

}  // namespace orv
