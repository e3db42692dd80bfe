// The live connections in order of acceptance, found by key. A kicked connection stays
// listed until it is closed; meanwhile nothing it sends is acted on and it gets no
// broadcast.
#pragma once

#include <cstddef>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "server/connection.h"

namespace orv {

class ConnectionList {
 public:
  void Add(std::shared_ptr<Connection> connection);
  // Takes the connection off the list; null when it is not listed.
  std::shared_ptr<Connection> Remove(ConnectionKey key);
  // Null when the key is not listed.
  Connection* Find(ConnectionKey key) const;

  const std::vector<std::shared_ptr<Connection>>& InOrder() const { return list_; }
  std::size_t Count() const { return list_.size(); }

  void MarkKicked(ConnectionKey key) { kicked_.insert(key); }
  bool IsKicked(ConnectionKey key) const { return !kicked_.empty() && kicked_.contains(key); }

 private:
  std::vector<std::shared_ptr<Connection>> list_;
  std::unordered_map<ConnectionKey, Connection*> byKey_;
  std::unordered_set<ConnectionKey> kicked_;
};

}  // namespace orv
