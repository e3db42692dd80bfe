// board/: the files clients post. Names are checked before anything is written, and the
// folder is kept within a quota, so a client can neither leave the folder nor fill the disk.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace orv {

class BoardFolder {
 public:
  enum class Result {
    kWritten,
    kBadName,       // empty, "..", a separator, a drive letter, a control character, or a
                    // device on Windows ("con.txt")
    kNameTooLong,   // longer than kMaxNameBytes
    kFileTooLarge,  // more than the per-file limit
    kOverQuota,     // the folder would grow past its quota
    kFailed,        // the system refused (the reason is not kept)
  };

  // A name longer than this cannot be a file name on common file systems.
  static constexpr std::size_t kMaxNameBytes = 255;

  explicit BoardFolder(std::filesystem::path workDir);

  // Limits in bytes; a file counts as at least one disk block, so empty files fill the
  // quota too.
  void SetLimits(std::int64_t quotaBytes, std::int64_t fileLimitBytes);

  // Writes (replaces) board/<name> with content, creating the folder when needed.
  Result Store(std::string_view name, std::string_view content);

  const std::filesystem::path& Path() const { return folder_; }
  // Bytes the folder is counted as taking now.
  std::int64_t Used();

 private:
  static std::int64_t Charge(std::uintmax_t size);
  void Measure();

  std::filesystem::path folder_;
  std::int64_t quota_ = 16 << 20;
  std::int64_t fileLimit_ = 65536;
  static constexpr int kStoresBetweenMeasures = 64;

  std::int64_t used_ = 0;
  bool measured_ = false;
  int storesSinceMeasure_ = 0;
};

// Whether a client's file name stays inside the board folder as one plain name: no
// separator, "..", drive letter or control character, and none of the names Windows takes
// for a device (CON, PRN, AUX, NUL, COM1, LPT1 ..., with or without an extension).
bool IsSafeBoardName(std::string_view name);

}  // namespace orv
