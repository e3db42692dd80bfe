// Who is online, as the chat client knows it: the server's user list, kept up to date from
// the announcements and status packets that pass between lists. Texts are wire text
// (Windows-1251), as they came.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "client_packets.h"

namespace orv::client {

struct Member {
  std::string mac;  // the server's key for a user
  std::string name;
  std::string ip;
  int statusCode = 0;
  std::string statusText;
};

class Roster {
 public:
  // What one status packet changed for its sender.
  struct Change {
    bool joined = false;  // the sender was not known
    bool renamed = false;
    std::string oldName;
    bool statusChanged = false;  // the status number or text differs from what was known
  };
  // What a new list changed: who came and who went since the last list or packet.
  struct Difference {
    std::vector<Member> joined;
    std::vector<Member> left;
  };

  // A status packet (types 2, 4, 7, 25, 34) of a sender: the sender is added or updated. A
  // status number of 0 or an empty status text keeps the one known, as the server keeps it.
  Change ApplyStatus(const ParsedPacket& packet);
  // The whole list as the server sent it; users without a MAC are left out.
  Difference Replace(const std::vector<UserEntry>& entries);
  void Clear() { members_.clear(); }

  const Member* Find(std::string_view mac) const;
  // Sorted by name without regard to case (Latin letters before Cyrillic ones), then MAC.
  std::vector<Member> Sorted() const;
  std::size_t size() const { return members_.size(); }
  bool empty() const { return members_.empty(); }

 private:
  Member* FindMutable(std::string_view mac);

  std::vector<Member> members_;
};

}  // namespace orv::client
