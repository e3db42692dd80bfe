#include "files/cached_file.h"

#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

namespace orv {

std::optional<std::string> ReadFileBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes(std::istreambuf_iterator<char>(in), {});
  if (in.bad()) return std::nullopt;
  return bytes;
}

CachedFile::CachedFile(std::filesystem::path path) : path_(std::move(path)) {}

void CachedFile::Invalidate() {
  known_ = false;
  present_ = false;
  content_.clear();
  content_.shrink_to_fit();
  ++generation_;
}

const std::string* CachedFile::Content() {
  // A missing file (or a folder in its place) is one state of its own, marked by a time
  // no real file carries. This runs for every packet: one look at the file (two when it
  // exists); file_size fails for anything but a regular file (a folder, a device), which
  // then counts as missing.
  std::error_code ec;
  std::uintmax_t size = 0;
  std::filesystem::file_time_type mtime = std::filesystem::last_write_time(path_, ec);
  bool regular = !ec;
  if (regular) {
    size = std::filesystem::file_size(path_, ec);
    regular = !ec;
  }
  if (!regular) {
    size = 0;
    mtime = std::filesystem::file_time_type::min();
  }
  // An unchanged state keeps its answer, an unreadable file included, so that readers
  // do not rebuild what they derived from it.
  if (known_ && size == size_ && mtime == mtime_) return present_ ? &content_ : nullptr;

  // The state changed (or was never seen): read again. A file that vanishes or cannot be
  // opened between the stat and the read counts as missing.
  std::optional<std::string> fresh;
  if (regular) fresh = ReadFileBytes(path_);
  const bool readable = fresh.has_value();
  known_ = true;
  present_ = readable;
  size_ = size;
  mtime_ = mtime;
  content_ = readable ? std::move(*fresh) : std::string();
  ++generation_;
  return present_ ? &content_ : nullptr;
}

}  // namespace orv
