// Sectioned key=value files (data/blocklist.cfg, data/afs.cfg, language files): section
// lines "[NAME]", entry lines "key=value". Sections and keys match without letter case.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "files/cached_file.h"

namespace orv {

// Values come back cut to this many bytes.
inline constexpr std::size_t kProfileValueLimit = 99;

// Letter-case-insensitive equality for ASCII and the Windows-1251 Cyrillic letters.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// Parsed form of one file, in file order.
class ProfileData {
 public:
  explicit ProfileData(std::string_view content = {});
  // The entry's value cut to kProfileValueLimit bytes, or the empty text.
  std::string Get(std::string_view section, std::string_view key) const;
  // true when the entry exists with a non-empty value (no copy made).
  bool HasNonEmpty(std::string_view section, std::string_view key) const;
  // The keys of section whose values are not empty, in file order (each once).
  std::vector<std::string> NonEmptyKeys(std::string_view section) const;

 private:
  struct Entry {
    std::string key;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  std::vector<Section> sections_;
};

// Reads the file on every call; the empty text when the file, section or key is missing.
std::string ReadProfileValue(std::string_view section, std::string_view key,
                             const std::filesystem::path& file);

// Writes key=value into section, keeping the other sections and entries in their order,
// adding a missing section or key, creating the file but not its folder. The file is
// replaced through a temporary file and a rename. Returns false when nothing could be
// written, or when key or value cannot be stored as one entry line (line breaks, "=" or a
// leading "[" or ";" in the key).
bool WriteProfileValue(std::string_view section, std::string_view key, std::string_view value,
                       const std::filesystem::path& file);

// Lookups through a cache that follows the file on disk.
class CachedProfile {
 public:
  explicit CachedProfile(std::filesystem::path path);
  std::string Get(std::string_view section, std::string_view key);
  bool HasNonEmpty(std::string_view section, std::string_view key);
  // The file as it is now on disk, checked once: several lookups on the result cost one
  // look at the file (valid until the next call).
  const ProfileData& Data();
  const std::filesystem::path& Path() const { return file_.Path(); }
  // Read the file again at the next lookup (after a write of our own, which may keep the
  // size and land within the same file-time tick).
  void Invalidate();

 private:
  CachedFile file_;
  std::uint64_t seenGeneration_ = ~std::uint64_t{0};
  ProfileData data_;
};

}  // namespace orv
