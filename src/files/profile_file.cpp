#include "files/profile_file.h"

#include <algorithm>
#include <cstdio>
#include <system_error>
#include <utility>

#include "files/file_replace.h"

namespace orv {

namespace {

constexpr std::string_view kBlanks = " \t\v\f\r";

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

// Lower case for ASCII letters and the Cyrillic letters of code page 1251 (the upper-case
// block 0xC0-0xDF and the letter pair 0xA8/0xB8).
unsigned char FoldCase(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + ('a' - 'A'));
  if (c >= 0xC0 && c <= 0xDF) return static_cast<unsigned char>(c + 0x20);
  if (c == 0xA8) return 0xB8;
  return c;
}

// What one line of a profile file is.
struct LineInfo {
  enum Kind { kOther, kSection, kEntry } kind = kOther;
  std::string_view name;   // section name or key, trimmed
  std::string_view value;  // entry value, trimmed
};

LineInfo ClassifyLine(std::string_view raw) {
  LineInfo info;
  const std::string_view line = Trim(raw);
  if (line.empty() || line.front() == ';') return info;
  if (line.front() == '[') {
    std::string_view name = line.substr(1);
    const std::size_t close = name.find(']');
    if (close != std::string_view::npos) name = name.substr(0, close);
    info.kind = LineInfo::kSection;
    info.name = Trim(name);
    return info;
  }
  info.kind = LineInfo::kEntry;
  const std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) {
    // A bare word is a key without a value.
    info.name = line;
    return info;
  }
  info.name = Trim(line.substr(0, eq));
  info.value = Trim(line.substr(eq + 1));
  return info;
}

// The value as the platform reader hands it out: one pair of matching quotes around it is
// dropped, a zero byte ends it, and at most kProfileValueLimit bytes come back.
std::string CutValue(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  const std::size_t zero = value.find('\0');
  if (zero != std::string_view::npos) value = value.substr(0, zero);
  if (value.size() > kProfileValueLimit) value = value.substr(0, kProfileValueLimit);
  return std::string(value);
}

struct RawLine {
  std::string text;
  std::string end;  // "\r\n", "\n" or "" for a last line without a line end
};

std::vector<RawLine> SplitLines(std::string_view content) {
  std::vector<RawLine> lines;
  std::size_t pos = 0;
  while (pos < content.size()) {
    const std::size_t lf = content.find('\n', pos);
    if (lf == std::string_view::npos) {
      lines.push_back({std::string(content.substr(pos)), ""});
      break;
    }
    if (lf > pos && content[lf - 1] == '\r') {
      lines.push_back({std::string(content.substr(pos, lf - 1 - pos)), "\r\n"});
    } else {
      lines.push_back({std::string(content.substr(pos, lf - pos)), "\n"});
    }
    pos = lf + 1;
  }
  return lines;
}

bool HasLineBreakOrZero(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool ReadWholeFile(const std::filesystem::path& file, std::string& out, bool& exists) {
  std::error_code ec;
  exists = std::filesystem::exists(file, ec);
  if (ec) return false;
  if (!exists) return true;
  if (!std::filesystem::is_regular_file(file, ec) || ec) return false;
  std::optional<std::string> bytes = ReadFileBytes(file);
  if (!bytes) return false;
  out = std::move(*bytes);
  return true;
}

// What tells whether a file changed: its size and modification time (nothing for a file
// that is not there).
struct FileState {
  bool present = false;
  std::uintmax_t size = 0;
  std::filesystem::file_time_type modified{};
  bool operator==(const FileState&) const = default;
};

FileState StateOf(const std::filesystem::path& file) {
  FileState state;
  std::error_code ec;
  state.size = std::filesystem::file_size(file, ec);
  if (ec) return FileState{};
  state.modified = std::filesystem::last_write_time(file, ec);
  if (ec) return FileState{};
  state.present = true;
  return state;
}

// The file's content with key=value set in section (added where missing).
std::string WithValue(const std::string& content, std::string_view trimmedSection,
                      std::string_view trimmedKey, std::string_view value) {
  std::vector<RawLine> lines = SplitLines(content);

  // Keep the file's own line ends; new files get CR LF.
  std::string lineEnd = "\r\n";
  for (const RawLine& l : lines) {
    if (!l.end.empty()) {
      lineEnd = l.end;
      break;
    }
  }

  std::size_t firstSectionEnd = std::string::npos;  // insert position in the first match
  bool inMatch = false;
  bool inFirstMatch = false;
  bool sawMatch = false;
  std::size_t keyLine = std::string::npos;
  std::string storedKey;
  for (std::size_t i = 0; i < lines.size() && keyLine == std::string::npos; ++i) {
    const LineInfo info = ClassifyLine(lines[i].text);
    if (info.kind == LineInfo::kSection) {
      inMatch = EqualsIgnoringCase(info.name, trimmedSection);
      inFirstMatch = inMatch && !sawMatch;
      if (inFirstMatch) firstSectionEnd = i + 1;
      sawMatch = sawMatch || inMatch;
      continue;
    }
    if (inFirstMatch && !Trim(lines[i].text).empty()) firstSectionEnd = i + 1;
    if (inMatch && info.kind == LineInfo::kEntry && EqualsIgnoringCase(info.name, trimmedKey)) {
      keyLine = i;
      storedKey = std::string(info.name);
    }
  }

  auto makeLine = [&](std::string_view k) {
    std::string line;
    line.reserve(k.size() + 1 + value.size());
    line.append(k).append("=").append(value);
    return line;
  };
  auto insertAt = [&](std::size_t at, std::string text) {
    if (at > 0 && lines[at - 1].end.empty()) lines[at - 1].end = lineEnd;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at),
                 RawLine{std::move(text), lineEnd});
  };

  if (keyLine != std::string::npos) {
    lines[keyLine].text = makeLine(storedKey);
    if (lines[keyLine].end.empty()) lines[keyLine].end = lineEnd;
  } else if (sawMatch) {
    insertAt(firstSectionEnd, makeLine(trimmedKey));
  } else {
    insertAt(lines.size(), "[" + std::string(trimmedSection) + "]");
    insertAt(lines.size(), makeLine(trimmedKey));
  }

  std::string out;
  out.reserve(content.size() + trimmedKey.size() + value.size() + trimmedSection.size() + 8);
  for (const RawLine& l : lines)
    out.append(l.text).append(l.end);
  return out;
}

}  // namespace

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(static_cast<unsigned char>(a[i])) != FoldCase(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

ProfileData::ProfileData(std::string_view content) {
  // Lines before the first section header belong to a nameless section that no lookup
  // with a name reaches.
  sections_.push_back({});
  for (const RawLine& raw : SplitLines(content)) {
    const LineInfo info = ClassifyLine(raw.text);
    if (info.kind == LineInfo::kSection) {
      sections_.push_back({std::string(info.name), {}});
    } else if (info.kind == LineInfo::kEntry) {
      sections_.back().entries.push_back({std::string(info.name), std::string(info.value)});
    }
  }
}

std::string ProfileData::Get(std::string_view section, std::string_view key) const {
  // The names asked for are trimmed like the names in the file; an empty one names nothing.
  section = Trim(section);
  key = Trim(key);
  if (section.empty() || key.empty()) return std::string();
  for (const Section& s : sections_) {
    if (!EqualsIgnoringCase(s.name, section)) continue;
    for (const Entry& e : s.entries) {
      if (EqualsIgnoringCase(e.key, key)) return CutValue(e.value);
    }
  }
  return std::string();
}

bool ProfileData::HasNonEmpty(std::string_view section, std::string_view key) const {
  section = Trim(section);
  key = Trim(key);
  if (section.empty() || key.empty()) return false;
  for (const Section& s : sections_) {
    if (!EqualsIgnoringCase(s.name, section)) continue;
    for (const Entry& e : s.entries) {
      if (!EqualsIgnoringCase(e.key, key)) continue;
      std::string_view v = e.value;
      if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
      }
      return !v.empty() && v.front() != '\0';
    }
  }
  return false;
}

std::vector<std::string> ProfileData::NonEmptyKeys(std::string_view section) const {
  std::vector<std::string> keys;
  for (const Section& s : sections_) {
    if (!EqualsIgnoringCase(s.name, section)) continue;
    for (const Entry& e : s.entries) {
      // The first entry of a key is the one lookups find.
      const bool seen = std::any_of(keys.begin(), keys.end(), [&e](const std::string& k) {
        return EqualsIgnoringCase(k, e.key);
      });
      if (!seen && HasNonEmpty(section, e.key)) keys.push_back(e.key);
    }
  }
  return keys;
}

std::string ReadProfileValue(std::string_view section, std::string_view key,
                             const std::filesystem::path& file) {
  const std::optional<std::string> content = ReadFileBytes(file);
  return content ? ProfileData(*content).Get(section, key) : std::string();
}

bool WriteProfileValue(std::string_view section, std::string_view key, std::string_view value,
                       const std::filesystem::path& file) {
  // Keys and values often come from clients (user names): anything that would not stay
  // one entry line is refused rather than allowed to add lines of its own.
  const std::string_view trimmedKey = Trim(key);
  const std::string_view trimmedSection = Trim(section);
  if (trimmedKey.empty() || HasLineBreakOrZero(key) || HasLineBreakOrZero(value) ||
      key.find('=') != std::string_view::npos || trimmedKey.front() == '[' ||
      trimmedKey.front() == ';') {
    return false;
  }
  if (trimmedSection.empty() || HasLineBreakOrZero(section) ||
      section.find(']') != std::string_view::npos) {
    return false;
  }

  // A hand edit of the file made while we change it must not be lost: the file is read
  // again, and the change made again, when it changed between our read and our write.
  for (int attempt = 0; attempt < 5; ++attempt) {
    const FileState before = StateOf(file);
    std::string content;
    bool existed = false;
    if (!ReadWholeFile(file, content, existed)) return false;
    const std::string out = WithValue(content, trimmedSection, trimmedKey, value);
    const ReplaceResult result =
        ReplaceFile(file, out, [&file, &before] { return StateOf(file) == before; });
    if (result != ReplaceResult::kChangedMeanwhile) return result == ReplaceResult::kReplaced;
  }
  return false;
}

CachedProfile::CachedProfile(std::filesystem::path path) : file_(std::move(path)) {}

const ProfileData& CachedProfile::Data() {
  const std::string* content = file_.Content();
  if (file_.Generation() != seenGeneration_) {
    data_ = ProfileData(content != nullptr ? std::string_view(*content) : std::string_view());
    seenGeneration_ = file_.Generation();
  }
  return data_;
}

void CachedProfile::Invalidate() {
  file_.Invalidate();
}

std::string CachedProfile::Get(std::string_view section, std::string_view key) {
  return Data().Get(section, key);
}

bool CachedProfile::HasNonEmpty(std::string_view section, std::string_view key) {
  return Data().HasNonEmpty(section, key);
}

}  // namespace orv
