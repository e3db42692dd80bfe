// Profile files ([SECTION] lines, key=value entries) over any content. A lookup gives at most
// 99 bytes, no line break and no zero byte, and agrees with the file, cached and uncached
// reads alike. A write is refused exactly when the key, section or value could not stay one
// entry line, and then leaves the file as it was; an accepted write reads back (as the
// reader hands values out: trimmed, one pair of quotes dropped, at most 99 bytes), leaves
// every other entry as it read before, and writing it again changes nothing.
//
// Input: section, key, value (each a length byte and bytes), then the file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "files/profile_file.h"
#include "fuzz_support.h"

namespace orv::fuzz {
namespace {

constexpr std::string_view kBlanks = " \t\v\f\r";

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool HasLineBreakOrZero(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// Whether the writer must refuse: what would not stay one entry line in its section.
bool MustRefuse(std::string_view section, std::string_view key, std::string_view value) {
  const std::string_view k = Trim(key);
  const std::string_view s = Trim(section);
  return k.empty() || k.front() == '[' || k.front() == ';' || key.find('=') != key.npos ||
         HasLineBreakOrZero(key) || HasLineBreakOrZero(value) || s.empty() ||
         section.find(']') != section.npos || HasLineBreakOrZero(section);
}

// The value as a lookup hands it back.
std::string AsRead(std::string_view value) {
  value = Trim(value);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value.substr(0, kProfileValueLimit));
}

bool SameName(std::string_view a, std::string_view b) {
  return EqualsIgnoringCase(Trim(a), Trim(b));
}

// Sections and keys to look up: every bracketed name and every text before a "=" in the
// file, taken roughly (a lookup of a name that is not there must agree as well).
std::vector<std::pair<std::string, std::string>> Probes(std::string_view content,
                                                        std::string_view section,
                                                        std::string_view key) {
  std::vector<std::string> sections{std::string(section), "LIST"};
  std::vector<std::string> keys{std::string(key), "x"};
  for (std::size_t pos = 0; pos < content.size() && keys.size() < 12;) {
    std::size_t end = content.find('\n', pos);
    if (end == std::string_view::npos) end = content.size();
    const std::string_view line = content.substr(pos, end - pos);
    pos = end + 1;
    if (const std::size_t open = line.find('['); open != line.npos && sections.size() < 6) {
      sections.emplace_back(line.substr(open + 1, line.find(']', open) - open - 1));
    }
    if (const std::size_t eq = line.find('='); eq != line.npos) {
      keys.emplace_back(line.substr(0, eq));
    } else {
      keys.emplace_back(line);
    }
  }
  std::vector<std::pair<std::string, std::string>> probes;
  for (const auto& s : sections) {
    for (const auto& k : keys)
      probes.emplace_back(s, k);
  }
  return probes;
}

void CheckLookup(const ProfileData& data, std::string_view section, std::string_view key) {
  const std::string value = data.Get(section, key);
  ORV_FUZZ_CHECK(value.size() <= kProfileValueLimit, Shown(value));
  ORV_FUZZ_CHECK(value.find('\n') == std::string::npos, Shown(value));
  ORV_FUZZ_CHECK(value.find('\0') == std::string::npos, Shown(value));
  ORV_FUZZ_CHECK(data.HasNonEmpty(section, key) == !value.empty(),
                 "[" + Shown(section) + "] " + Shown(key) + " = " + Shown(value));
}

}  // namespace
}  // namespace orv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orv::fuzz;
  using orv::testing::ReadFile;
  using orv::testing::WriteFile;
  ByteReader in(data, size);
  const std::string_view section = in.Text();
  const std::string_view key = in.Text();
  const std::string_view value = in.Text();
  const std::string content(in.Rest());

  const std::filesystem::path folder = ScratchFolder() / "profile";
  ResetFolder(folder);
  const std::filesystem::path file = folder / "list.cfg";
  WriteFile(file, content);

  const orv::ProfileData before(content);
  const auto probes = Probes(content, section, key);
  for (const auto& [s, k] : probes)
    CheckLookup(before, s, k);
  ORV_FUZZ_CHECK(orv::ReadProfileValue(section, key, file) == before.Get(section, key), Shown(key));
  orv::CachedProfile cached(file);
  ORV_FUZZ_CHECK(cached.Get(section, key) == before.Get(section, key), Shown(key));

  const bool written = orv::WriteProfileValue(section, key, value, file);
  ORV_FUZZ_CHECK(written == !MustRefuse(section, key, value),
                 "[" + Shown(section) + "] " + Shown(key) + "=" + Shown(value) +
                     (written ? " was written" : " was refused"));
  const std::string after = ReadFile(file);
  if (!written) {
    ORV_FUZZ_CHECK(after == content, "a refused write changed the file");
    return 0;
  }

  const orv::ProfileData now(after);
  ORV_FUZZ_CHECK(now.Get(section, key) == AsRead(value),
                 "[" + Shown(section) + "] " + Shown(key) + "=" + Shown(value) + " reads back as " +
                     Shown(now.Get(section, key)) + "\nfile after:\n" + Shown(after));
  for (const auto& [s, k] : probes) {
    CheckLookup(now, s, k);
    if (SameName(s, section) && SameName(k, key)) continue;
    ORV_FUZZ_CHECK(now.Get(s, k) == before.Get(s, k),
                   "[" + Shown(s) + "] " + Shown(k) + " was " + Shown(before.Get(s, k)) + ", is " +
                       Shown(now.Get(s, k)) + " after writing [" + Shown(section) + "] " +
                       Shown(key) + "\nfile after:\n" + Shown(after));
  }
  // The cache sees the new file once told to look again.
  cached.Invalidate();
  ORV_FUZZ_CHECK(cached.Get(section, key) == AsRead(value), Shown(key));

  ORV_FUZZ_CHECK(orv::WriteProfileValue(section, key, value, file), "a second write was refused");
  ORV_FUZZ_CHECK(ReadFile(file) == after, "writing the same entry again changed the file");
  return 0;
}
