#include "files/tagged_file.h"

#include <system_error>
#include <utility>

namespace orv {

namespace {

// The next line of content from pos on, without its line end; pos moves past it.
std::string_view NextLine(std::string_view content, std::size_t& pos) {
  std::size_t end = content.find('\n', pos);
  const std::size_t next = end == std::string_view::npos ? content.size() : end + 1;
  if (end == std::string_view::npos) end = content.size();
  std::string_view line = content.substr(pos, end - pos);
  // Text-mode reading turns CR LF into one line break; a lone CR elsewhere stays.
  if (!line.empty() && line.back() == '\r' && end < content.size()) line.remove_suffix(1);
  pos = next;
  return line;
}

}  // namespace

std::string ReadTaggedValueFrom(std::string_view content, std::string_view key) {
  std::string open;
  open.reserve(key.size() + 2);
  open.append("<").append(key).append(">");
  std::string close;
  close.reserve(key.size() + 3);
  close.append("</").append(key).append(">");

  std::string result;
  bool inside = false;
  std::size_t pos = 0;
  while (pos < content.size()) {
    std::string_view line = NextLine(content, pos);
    if (line.empty()) line = "\n";
    if (line == open) {
      inside = true;
      continue;
    }
    if (line == close) return result;
    if (inside) result.append(line);
  }
  // A block that never closes is not a value.
  return std::string();
}

std::vector<TagLine> TagLines(std::string_view content) {
  std::vector<TagLine> tags;
  int number = 0;
  std::size_t pos = 0;
  while (pos < content.size()) {
    const std::string_view line = NextLine(content, pos);
    ++number;
    if (line.size() < 3 || line.front() != '<' || line.back() != '>') continue;
    const bool closing = line[1] == '/';
    const std::string_view key = line.substr(closing ? 2 : 1, line.size() - (closing ? 3 : 2));
    if (!key.empty()) tags.push_back({std::string(key), closing, number});
  }
  return tags;
}

std::string ReadTaggedValue(const std::filesystem::path& file, std::string_view key) {
  // A folder opens like an empty file on some systems; it is not a readable file.
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec)) return kReadFalse;
  const std::optional<std::string> content = ReadFileBytes(file);
  if (!content) return kReadFalse;
  return ReadTaggedValueFrom(*content, key);
}

TaggedFile::TaggedFile(std::filesystem::path path) : file_(std::move(path)) {}

std::string TaggedFile::Read(const std::string& key) {
  return ReadRef(key);
}

std::optional<std::string> TaggedFile::Find(const std::string& key) {
  const std::string& value = ReadRef(key);
  if (&value == &readFalse_) return std::nullopt;
  return value;
}

const std::string& TaggedFile::ReadRef(const std::string& key) {
  const std::string* content = file_.Content();
  if (file_.Generation() != seenGeneration_) {
    values_.clear();
    seenGeneration_ = file_.Generation();
  }
  if (content == nullptr) return readFalse_;
  auto it = values_.find(key);
  if (it != values_.end()) return it->second;
  std::string value = ReadTaggedValueFrom(*content, key);
  if (value.empty()) return missing_;
  return values_.emplace(key, std::move(value)).first->second;
}

}  // namespace orv
