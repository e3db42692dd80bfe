#include "console/language_table.h"

#include "console/builtin_language.h"
#include "files/cached_file.h"
#include "files/profile_file.h"

namespace orv {

namespace {

constexpr const char* kSection = "STRINGS";

}  // namespace

bool LanguageTable::LoadLanguage(const std::string& name, const std::filesystem::path& workDir,
                                 const LogWriter& log) {
  strings_.clear();

  // The relative form is the one the operator knows, so that is what the log names.
  const std::string relativePath = "language/lang_" + name + ".cfg";
  const std::filesystem::path path = workDir / "language" / ("lang_" + name + ".cfg");
  // Read once; a folder of that name counts as missing, as it is no file of strings.
  CachedFile file(path);
  const std::string* content = file.Content();
  if (content == nullptr) return false;
  const ProfileData data(*content);

  strings_.reserve(kStringCount);
  for (int i = 0; i < kStringCount; ++i) {
    const std::string key = "STR" + std::to_string(i);
    std::string value = data.Get(kSection, key);
    if (value.empty()) {
      log.AppendLog(":::Missing string " + key + " in " + relativePath, true);
      value = key;
    }
    strings_.push_back(std::move(value));
  }
  return true;
}

void LanguageTable::LoadBuiltIn() {
  strings_.assign(kBuiltInEnglish.begin(), kBuiltInEnglish.end());
}

std::string LanguageTable::GetString(int n) const {
  if (n < 0 || n >= Size()) return " ";
  return strings_[static_cast<std::size_t>(n)];
}

}  // namespace orv
