// The live connections in order of acceptance, found by key, each with what the engine
// keeps for it: the unfinished packet it is sending. A kicked connection stays listed until
// it is closed; meanwhile nothing it sends is acted on and it gets no broadcast.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "protocol/packet_assembler.h"
#include "server/connection.h"

namespace orv {

class ConnectionList {
 public:
  struct Entry {
    std::shared_ptr<Connection> connection;
    PacketAssembler input;
    bool kicked = false;
    bool lastRelayed = false;  // whether the last packet was relayed (its late trailer follows)
    std::chrono::milliseconds lastInput{0};  // steady time of the last receive
  };

  void Add(std::shared_ptr<Connection> connection);
  // Takes the connection off the list; null when it is not listed.
  std::shared_ptr<Connection> Remove(ConnectionKey key);
  // Null when the key is not listed. Entries stay where they are until removed.
  Connection* Find(ConnectionKey key) const;
  Entry* FindEntry(ConnectionKey key);

  const std::vector<std::shared_ptr<Connection>>& InOrder() const { return list_; }
  std::size_t Count() const { return list_.size(); }
  // Listed connections whose peer has this address.
  int CountFrom(const std::string& peerAddress) const;

  void MarkKicked(ConnectionKey key);
  bool IsKicked(ConnectionKey key) const;

 private:
  std::vector<std::shared_ptr<Connection>> list_;
  std::unordered_map<ConnectionKey, Entry> byKey_;
  std::unordered_map<std::string, int> perAddress_;
  std::size_t kickedCount_ = 0;
};

}  // namespace orv
