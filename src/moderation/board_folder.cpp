#include "moderation/board_folder.h"

#include <fstream>
#include <system_error>
#include <utility>

namespace orv {

namespace {

constexpr std::int64_t kBlock = 4096;

}  // namespace

bool IsSafeBoardName(std::string_view name) {
  if (name.empty() || name == "." || name.find("..") != std::string_view::npos) return false;
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
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) return Result::kFailed;
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  used_ += added;
  return out ? Result::kWritten : Result::kFailed;
}

}  // namespace orv
