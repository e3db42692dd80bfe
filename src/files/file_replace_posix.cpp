// File replacement on POSIX systems: rename(2) replaces its target atomically.
#include <cstdio>
#include <system_error>

#include "files/file_replace.h"

namespace orv {

bool CreateNewFile(const std::filesystem::path& file, std::string_view content) {
  // "x": never reuse a file that already exists under that name.
  std::FILE* out = std::fopen(file.c_str(), "wbx");
  if (out == nullptr) return false;
  bool ok = std::fwrite(content.data(), 1, content.size(), out) == content.size();
  ok = (std::fflush(out) == 0) && ok;
  ok = (std::fclose(out) == 0) && ok;
  if (!ok) std::remove(file.c_str());
  return ok;
}

bool MoveOver(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::error_code ec;
  std::filesystem::rename(from, to, ec);
  return !ec;
}

}  // namespace orv
