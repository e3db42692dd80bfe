#include "moderation/board_folder.h"

#include <string>
#include <system_error>
#include <utility>

#include "files/file_replace.h"

namespace orv {

namespace {

constexpr std::int64_t kBlock = 4096;

// Whether Windows opens a device instead of a file for name, in whatever folder it stands:
// CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM and LPT with one digit (0 to 9, or the
// superscripts 1 to 3 of the Western code page), in any case. Only what comes before the
// first dot counts ("con.txt", "nul.tar.gz"), and Windows drops dots and blanks at the end
// of a name ("nul.", "prn "). Blanks elsewhere around that part ("con .txt", " aux") are
// ignored here too: refusing such a name costs nothing.
bool IsWindowsDeviceName(std::string_view name) {
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.front() == ' ')
    stem.remove_prefix(1);
  while (!stem.empty() && stem.back() == ' ')
    stem.remove_suffix(1);
  if (stem.size() < 3 || stem.size() > 7) return false;
  std::string upper(stem);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" || upper == "CONIN$" ||
      upper == "CONOUT$") {
    return true;
  }
  if (upper.size() != 4 || (upper.compare(0, 3, "COM") != 0 && upper.compare(0, 3, "LPT") != 0))
    return false;
  const auto digit = static_cast<unsigned char>(upper[3]);
  return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

}  // namespace

bool IsSafeBoardName(std::string_view name) {
  if (name.empty() || name == "." || name.find("..") != std::string_view::npos) return false;
  // A Windows server would open the device: a client could write into its console or onto
  // its printer, or hang it on a serial port. Refused on every system, so that every server
  // takes the same names.
  if (IsWindowsDeviceName(name)) return false;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || c == ':' || byte < 0x20 || byte == 0x7F) return false;
  }
  return true;
}

BoardFolder::BoardFolder(std::filesystem::path workDir) : folder_(std::move(workDir) / "board") {}

void BoardFolder::SetLimits(std::int64_t quotaBytes, std::int64_t fileLimitBytes) {
  quota_ = quotaBytes;
  fileLimit_ = fileLimitBytes;
}

std::int64_t BoardFolder::Charge(std::uintmax_t size) {
  const auto bytes = static_cast<std::int64_t>(size);
  return bytes < kBlock ? kBlock : (bytes + kBlock - 1) / kBlock * kBlock;
}

void BoardFolder::Measure() {
  used_ = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder_, ec)) {
    std::error_code sizeError;
    const std::uintmax_t size = entry.is_regular_file(sizeError) ? entry.file_size(sizeError) : 0;
    used_ += Charge(sizeError ? 0 : size);
  }
  measured_ = true;
  storesSinceMeasure_ = 0;
}

std::int64_t BoardFolder::Used() {
  if (!measured_) Measure();
  return used_;
}

BoardFolder::Result BoardFolder::Store(std::string_view name, std::string_view content) {
  if (!IsSafeBoardName(name)) return Result::kBadName;
  if (name.size() > kMaxNameBytes) return Result::kNameTooLong;
  if (static_cast<std::int64_t>(content.size()) > fileLimit_) return Result::kFileTooLarge;

  const std::filesystem::path file = folder_ / std::string(name);
  std::error_code ec;
  const std::uintmax_t oldSize = std::filesystem::file_size(file, ec);
  const std::int64_t old = ec ? 0 : Charge(oldSize);
  const std::int64_t added = Charge(content.size()) - old;
  ++storesSinceMeasure_;
  if (Used() + added > quota_) {
    // Files may have been removed by hand since the folder was measured; look again, but
    // not at every refused write of a client that keeps trying.
    if (storesSinceMeasure_ >= kStoresBetweenMeasures) Measure();
    if (used_ + added > quota_) return Result::kOverQuota;
  }

  std::filesystem::create_directories(folder_, ec);
  // Through a new file moved over the old one: a reader never sees half a file, and a full
  // disk keeps the old content.
  if (ReplaceFile(file, content) != ReplaceResult::kReplaced) return Result::kFailed;
  used_ += added;
  return Result::kWritten;
}

}  // namespace orv
