#include "console/language_table.h"

#include <fstream>
#include <system_error>

#include "moderation/profile_file.h"

namespace orv {

namespace {

constexpr const char* kSection = "STRINGS";

// True when path names a file that can be opened for reading. A folder of that name counts
// as missing: it would otherwise read as a file with every string absent.
bool FileExists(const std::filesystem::path& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return false;
  std::ifstream file(path, std::ios::binary);
  return file.is_open();
}

}  // namespace

bool LanguageTable::LoadLanguage(const std::string& name, const std::filesystem::path& workDir,
                                 const LogWriter& log) {
  strings_.clear();

  // The relative form is the one the operator knows, so that is what the log names.
  const std::string relativePath = "language/lang_" + name + ".cfg";
  const std::filesystem::path path = workDir / "language" / ("lang_" + name + ".cfg");
  if (!FileExists(path)) return false;

  strings_.reserve(kStringCount);
  for (int i = 0; i < kStringCount; ++i) {
    const std::string key = "STR" + std::to_string(i);
    std::string value = ReadProfileValue(kSection, key, path);
    if (value.empty()) {
      log.AppendLog(":::Missing string " + key + " in " + relativePath, true);
      value = key;
    }
    strings_.push_back(std::move(value));
  }
  return true;
}

std::string LanguageTable::GetString(int n) const {
  if (n < 0 || n >= Size()) return " ";
  return strings_[static_cast<std::size_t>(n)];
}

}  // namespace orv
