#include "server/connection_list.h"

#include <algorithm>
#include <utility>

namespace orv {

void ConnectionList::Add(std::shared_ptr<Connection> connection) {
  byKey_[connection->Key()] = connection.get();
  list_.push_back(std::move(connection));
}

std::shared_ptr<Connection> ConnectionList::Remove(ConnectionKey key) {
  if (byKey_.erase(key) == 0) return nullptr;
  kicked_.erase(key);
  const auto it = std::find_if(list_.begin(), list_.end(),
                               [key](const auto& connection) { return connection->Key() == key; });
  std::shared_ptr<Connection> removed = std::move(*it);
  list_.erase(it);
  return removed;
}

Connection* ConnectionList::Find(ConnectionKey key) const {
  const auto it = byKey_.find(key);
  return it == byKey_.end() ? nullptr : it->second;
}

}  // namespace orv
