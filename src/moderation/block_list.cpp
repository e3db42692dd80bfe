#include "moderation/block_list.h"

namespace orv {

namespace {
constexpr const char* kSection = "LIST";
}

BlockList::BlockList(const std::filesystem::path& workDir)
    : profile_(workDir / "data" / "blocklist.cfg") {}

BlockState BlockList::CheckBlockList(std::string_view ip, std::string_view name,
                                     std::string_view mac, std::string_view peerAddress) {
  // Any non-empty value blocks; an unblocked key stays in the file with an empty value.
  const ProfileData& list = profile_.Data();
  if (list.HasNonEmpty(kSection, ip)) return BlockState::kIp;
  if (!peerAddress.empty() && list.HasNonEmpty(kSection, peerAddress)) return BlockState::kAddress;
  if (list.HasNonEmpty(kSection, mac)) return BlockState::kMac;
  if (list.HasNonEmpty(kSection, name)) return BlockState::kName;
  return BlockState::kNone;
}

bool BlockList::IsAddressBlocked(std::string_view peerAddress) {
  return IsListed(peerAddress);
}

std::vector<std::string> BlockList::Entries() {
  return profile_.Data().NonEmptyKeys(kSection);
}

bool BlockList::IsListed(std::string_view key) {
  return !key.empty() && profile_.Data().HasNonEmpty(kSection, key);
}

bool BlockList::WouldRefuse(std::string_view key, std::string_view ip, std::string_view name,
                            std::string_view mac, std::string_view peerAddress) {
  if (key.empty()) return false;
  for (const std::string_view field : {ip, name, mac, peerAddress}) {
    if (EqualsIgnoringCase(key, field)) return true;
  }
  return false;
}

bool BlockList::WriteBlockEntry(const std::string& key) {
  const bool written = WriteProfileValue(kSection, key, "1", profile_.Path());
  profile_.Invalidate();
  return written;
}

bool BlockList::ClearBlockEntry(const std::string& key) {
  const bool written = WriteProfileValue(kSection, key, "", profile_.Path());
  profile_.Invalidate();
  return written;
}

}  // namespace orv
