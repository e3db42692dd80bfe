// The tag-block format of orvchatserver.cfg and orvchatserver_command.cfg: a line "<KEY>",
// value lines, a line "</KEY>". Value lines are joined with nothing between them; an empty
// value line stands for one "\n".
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/cached_file.h"

namespace orv {

inline constexpr const char* kReadFalse = "READFALSE";

// The value of the first complete block for key in content (CR LF or LF line ends); the
// empty text when there is none.
std::string ReadTaggedValueFrom(std::string_view content, std::string_view key);

// A line that opens ("<Key>") or closes ("</Key>") a block, with its number in the file
// (from 1).
struct TagLine {
  std::string key;
  bool closing = false;
  int number = 0;
};

// Every tag line of content, in order, with the lines cut as ReadTaggedValueFrom cuts them.
std::vector<TagLine> TagLines(std::string_view content);

// Reads the file on every call: the value, the empty text, or "READFALSE" when the file
// cannot be opened.
std::string ReadTaggedValue(const std::filesystem::path& file, std::string_view key);

// The same reads through a cache that follows the file on disk.
class TaggedFile {
 public:
  explicit TaggedFile(std::filesystem::path path);
  std::string Read(const std::string& key);
  // The value (empty when the file has no such block), or nothing when the file cannot be
  // read.
  std::optional<std::string> Find(const std::string& key);
  // Same as Read, without copying (valid until the next call).
  const std::string& ReadRef(const std::string& key);
  const std::filesystem::path& Path() const { return file_.Path(); }

 private:
  CachedFile file_;
  std::uint64_t seenGeneration_ = ~std::uint64_t{0};
  // Only keys the file has: keys come from clients, and remembering every miss would let
  // them grow this without bound.
  std::map<std::string, std::string, std::less<>> values_;
  std::string readFalse_ = kReadFalse;
  std::string missing_;
};

}  // namespace orv
