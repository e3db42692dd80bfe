// The connected users: one record per MAC text seen on an open connection, in the order
// they appeared. Row numbers of the operator's list are indices into this table.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "server/connection.h"

namespace orv {

struct UserRecord {
  std::string avatar;
  std::string reportedIp;
  std::string peerAddress;
  bool stateFlag = false;
  std::string mac;
  std::string name;
  std::string lastText;
  std::int32_t lastCode = 0;
  std::string connectionKey;
  std::shared_ptr<Connection> socket;  // the connection of the user's last packet
  std::int32_t blockState = 0;         // 0 none, 1 IP, 2 MAC, 3 NAME
  std::int32_t afs = -1;               // -1: none of the user's own
};

class UserTable {
 public:
  int GetCount() const { return static_cast<int>(records_.size()); }

  // Creates or refreshes the record of mac. Nothing happens without a socket (packets the
  // server injects itself).
  void AddOrUpdate(std::string_view mac, std::string_view reportedIp, std::string_view name,
                   std::string_view connectionKey, const std::shared_ptr<Connection>& socket,
                   std::string_view avatar, std::string_view lastText, std::int32_t lastCode,
                   std::int32_t afs);

  // Removes every record of the connection (a connection that sent under two MACs owns two
  // records; none may outlive it). Returns how many were removed.
  int RemoveByConnectionKey(std::string_view key);

  std::int32_t FindBlockState(std::string_view mac) const;
  std::int32_t FindAfs(std::string_view mac) const;
  void SetBlockState(std::string_view mac, std::int32_t value);
  void SetStateFlag(std::string_view mac, bool value);

  std::shared_ptr<Connection> GetSocketAt(int index) const;
  std::int32_t GetBlockStateAt(int index) const;
  std::int32_t GetAfsAt(int index) const;
  void SetAfsAt(int index, std::int32_t value);
  // selector 0 name, 1 mac, 2 reportedIp, 3 peerAddress. An empty field writes "n/a" and
  // returns false; an index out of range leaves out untouched and returns true.
  bool GetDisplayField(int index, int selector, std::string& out) const;
  std::string FormatAvatarAt(int index) const;
  std::string FormatLastTextAt(int index) const;
  std::string FormatLastCodeAt(int index) const;
  std::string FormatStateFlagAt(int index) const;

  // One user-list block of at most five valid entries from position; position moves on,
  // and becomes -1 when the table is exhausted.
  void BuildListBlock(int& position, std::string& block) const;

  const UserRecord* At(int index) const;
  const UserRecord* Find(std::string_view mac) const;

 private:
  UserRecord* FindMutable(std::string_view mac);

  // Lookups by string_view without building a std::string.
  struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
      return std::hash<std::string_view>{}(text);
    }
  };

  // A deque rather than a vector: each record is allocated on its own, so a table of
  // thousands does not carry the spare half of a doubled array.
  std::deque<UserRecord> records_;
  // MAC -> index, so that the per-packet lookups do not scan the table.
  std::unordered_map<std::string, std::size_t, TextHash, std::equal_to<>> index_;
};

}  // namespace orv
