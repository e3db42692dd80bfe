// A file's bytes kept in memory and read again only when its size or modification time
// changed on disk, so that hot paths do not read files while a hand edit still takes
// effect at the next use.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace orv {

// The whole file, or nothing when it cannot be opened or read. Refusing a folder is the
// caller's part: some systems open one like an empty file.
std::optional<std::string> ReadFileBytes(const std::filesystem::path& file);

class CachedFile {
 public:
  explicit CachedFile(std::filesystem::path path);

  // The current content, or nullptr when the file cannot be opened for reading.
  const std::string* Content();
  // Changes whenever Content() saw a different file state than before.
  std::uint64_t Generation() const { return generation_; }
  const std::filesystem::path& Path() const { return path_; }
  // Forget what was read, so the next Content() reads the file again.
  void Invalidate();

 private:
  std::filesystem::path path_;
  bool known_ = false;
  bool present_ = false;
  std::uintmax_t size_ = 0;
  std::filesystem::file_time_type mtime_{};
  std::string content_;
  std::uint64_t generation_ = 0;
};

}  // namespace orv
