// Replacing a file's content, the same on every system; the two steps it takes are each
// system's own (file_replace_posix.cpp, file_replace_win32.cpp).
#include <atomic>
#include <chrono>
#include <string>
#include <system_error>

#include "files/file_replace.h"

namespace orv {

ReplaceResult ReplaceFile(const std::filesystem::path& file, std::string_view content,
                          const std::function<bool()>& unchanged) {
  // Temporary names must not meet those of another write in the same moment.
  static std::atomic<unsigned> counter{0};
  const std::filesystem::path folder = file.parent_path();
  std::error_code ec;
  if (!folder.empty() && !std::filesystem::is_directory(folder, ec)) return ReplaceResult::kFailed;
  const bool existed = std::filesystem::exists(file, ec);

  std::filesystem::path temp;
  bool created = false;
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (int attempt = 0; attempt < 16 && !created; ++attempt) {
    temp = file;
    temp += ".tmp" + std::to_string(stamp % 1000000) + "_" + std::to_string(counter++);
    created = CreateNewFile(temp, content);
  }
  if (!created) return ReplaceResult::kFailed;
  if (existed) {
    const auto perms = std::filesystem::status(file, ec).permissions();
    if (!ec) std::filesystem::permissions(temp, perms, ec);
    ec.clear();
  }
  if (unchanged && !unchanged()) {
    std::filesystem::remove(temp, ec);
    return ReplaceResult::kChangedMeanwhile;
  }
  if (MoveOver(temp, file)) return ReplaceResult::kReplaced;
  std::filesystem::remove(temp, ec);
  return ReplaceResult::kFailed;
}

}  // namespace orv
