// data/blocklist.cfg: one section "LIST" whose non-empty entries block an IP, a MAC or a
// name. Blocking writes key=1, unblocking writes key= (the key stays in the file).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "files/profile_file.h"
#include "moderation/block_state.h"

namespace orv {

class BlockList {
 public:
  explicit BlockList(const std::filesystem::path& workDir);

  // kNone when not listed, else what is listed (looked up in the order IP, connection
  // address, MAC, name).
  BlockState CheckBlockList(std::string_view ip, std::string_view name, std::string_view mac,
                            std::string_view peerAddress = {});

  // Whether the connection address (which the client cannot choose) is listed.
  bool IsAddressBlocked(std::string_view peerAddress);
  // Whether key is listed (not empty, and blocking).
  bool IsListed(std::string_view key);
  // Every key that blocks, in file order.
  std::vector<std::string> Entries();

  // Whether an entry key would refuse a user with these fields: keys of every kind share
  // the list and match without letter case, so a name can refuse somebody's address.
  static bool WouldRefuse(std::string_view key, std::string_view ip, std::string_view name,
                          std::string_view mac, std::string_view peerAddress);

  // Write key=1 or key= into section LIST. false when the entry could not be stored.
  bool WriteBlockEntry(const std::string& key);
  bool ClearBlockEntry(const std::string& key);

  const std::filesystem::path& Path() const { return profile_.Path(); }

 private:
  CachedProfile profile_;
};

}  // namespace orv
