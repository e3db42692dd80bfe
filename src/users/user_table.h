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

#include "moderation/block_state.h"
#include "users/connection_key.h"

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
  ConnectionKey connection;  // the connection of the user's last packet
  BlockState blockState = BlockState::kNone;
  std::int32_t afs = -1;     // -1: none of the user's own
  std::uint64_t serial = 0;  // order of creation: later records have larger serials
};

class UserTable {
 public:
  // Lookups by string_view without building a std::string.
  struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
      return std::hash<std::string_view>{}(text);
    }
  };

  int GetCount() const { return static_cast<int>(records_.size()); }

  // Creates or refreshes the record of mac for the packet that came in on connection from
  // peerAddress (an empty address keeps the one known). Nothing happens without a
  // connection (packets the server makes itself).
  void AddOrUpdate(std::string_view mac, std::string_view reportedIp, std::string_view name,
                   ConnectionKey connection, std::string_view peerAddress, std::string_view avatar,
                   std::string_view lastText, std::int32_t lastCode, std::int32_t afs);

  // Removes every record of the connection (a connection that sent under two MACs owns two
  // records; none may outlive it). Returns how many were removed.
  int RemoveByConnectionKey(ConnectionKey connection);

  BlockState FindBlockState(std::string_view mac) const;
  std::int32_t FindAfs(std::string_view mac) const;
  void SetBlockState(std::string_view mac, BlockState value);
  void SetStateFlag(std::string_view mac, bool value);

  // The empty key when the index is out of range.
  ConnectionKey GetConnectionAt(int index) const;
  // Records that belong to the connection.
  int CountFor(ConnectionKey connection) const;
  // Whether a record of the connection is blocked.
  bool AnyBlockedFor(ConnectionKey connection) const;
  BlockState GetBlockStateAt(int index) const;
  void SetAfsAt(int index, std::int32_t value);
  void SetAfs(std::string_view mac, std::int32_t value);

  // Fields of a record as the operator's commands name them.
  enum class Field { kName, kMac, kReportedIp, kPeerAddress };
  // An empty field writes "n/a" and returns false; an index out of range leaves out
  // untouched and returns true.
  bool GetDisplayField(int index, Field field, std::string& out) const;

  // One user-list block of at most five valid entries, from the first record whose serial
  // is at least *next; *next moves on to where the following block starts. false when the
  // table is exhausted (this was the last block). Records come and go between calls
  // without one being skipped or sent twice.
  bool BuildListBlock(std::uint64_t* next, std::string& block) const;

  const UserRecord* At(int index) const;
  const UserRecord* Find(std::string_view mac) const;

 private:
  UserRecord* FindMutable(std::string_view mac);

  // A deque rather than a vector: each record is allocated on its own, so a table of
  // thousands does not carry the spare half of a doubled array.
  std::deque<UserRecord> records_;
  // MAC -> index, so that the per-packet lookups do not scan the table.
  std::unordered_map<std::string, std::size_t, TextHash, std::equal_to<>> index_;
  // Records, and blocked records, of each connection.
  struct Held {
    int records = 0;
    int blocked = 0;
  };
  void Detach(const UserRecord& record);
  void Attach(const UserRecord& record);
  std::unordered_map<ConnectionKey, Held> perConnection_;
  std::uint64_t nextSerial_ = 1;
};

}  // namespace orv
