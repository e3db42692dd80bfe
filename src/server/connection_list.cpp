#include "server/connection_list.h"

#include <algorithm>
#include <utility>

namespace orv {

void ConnectionList::Add(std::shared_ptr<Connection> connection) {
  Entry& entry = byKey_[connection->Key()];
  entry.connection = connection;
  ++perAddress_[connection->PeerAddress()];
  list_.push_back(std::move(connection));
}

std::shared_ptr<Connection> ConnectionList::Remove(ConnectionKey key) {
  const auto found = byKey_.find(key);
  if (found == byKey_.end()) return nullptr;
  if (found->second.kicked) --kickedCount_;
  std::shared_ptr<Connection> removed = std::move(found->second.connection);
  byKey_.erase(found);
  if (const auto address = perAddress_.find(removed->PeerAddress()); address != perAddress_.end()) {
    if (--address->second <= 0) perAddress_.erase(address);
  }
  list_.erase(std::find(list_.begin(), list_.end(), removed));
  return removed;
}

int ConnectionList::CountFrom(const std::string& peerAddress) const {
  const auto it = perAddress_.find(peerAddress);
  return it == perAddress_.end() ? 0 : it->second;
}

Connection* ConnectionList::Find(ConnectionKey key) const {
  const auto it = byKey_.find(key);
  return it == byKey_.end() ? nullptr : it->second.connection.get();
}

ConnectionList::Entry* ConnectionList::FindEntry(ConnectionKey key) {
  const auto it = byKey_.find(key);
  return it == byKey_.end() ? nullptr : &it->second;
}

void ConnectionList::MarkKicked(ConnectionKey key) {
  Entry* entry = FindEntry(key);
  if (entry == nullptr || entry->kicked) return;
  entry->kicked = true;
  ++kickedCount_;
}

bool ConnectionList::IsKicked(ConnectionKey key) const {
  if (kickedCount_ == 0) return false;
  const auto it = byKey_.find(key);
  return it != byKey_.end() && it->second.kicked;
}

}  // namespace orv
