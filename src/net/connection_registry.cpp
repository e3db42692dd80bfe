#include "net/connection_registry.h"

#include <utility>
#include <vector>

#include "net/asio_connection.h"

namespace orv {

ConnectionKey ConnectionRegistry::NewKey() {
  // The counter wraps through the whole 32-bit range; a key still held by a connection is
  // skipped, so a long-lived connection never shares its key with a newer one.
  for (;;) {
    ++counter_;
    const ConnectionKey key{static_cast<std::int32_t>(counter_)};
    if (key && connections_.find(key) == connections_.end()) return key;
  }
}

void ConnectionRegistry::Add(ConnectionKey key, const std::shared_ptr<AsioConnection>& connection) {
  connections_[key] = connection;
  ++openSockets_;
}

void ConnectionRegistry::Remove(ConnectionKey key) {
  connections_.erase(key);
}

void ConnectionRegistry::SocketClosed() {
  if (openSockets_ > 0) --openSockets_;
  if (openSockets_ == 0 && allClosed_) {
    auto done = std::move(allClosed_);
    allClosed_ = nullptr;
    done();
  }
}

void ConnectionRegistry::CloseAll() {
  // Close may end a connection's life while we walk, so take strong references first.
  std::vector<std::shared_ptr<AsioConnection>> live;
  live.reserve(connections_.size());
  for (auto& [key, weak] : connections_) {
    if (auto connection = weak.lock()) live.push_back(std::move(connection));
  }
  for (auto& connection : live)
    connection->Close();
}

void ConnectionRegistry::ReleaseIdleMemory() {
  for (auto& [key, weak] : connections_) {
    if (auto connection = weak.lock()) connection->ReleaseIdleMemory();
  }
}

void ConnectionRegistry::SetInput(InputLimit limit) {
  const bool changed =
      limit.bytesPerSecond != input_.bytesPerSecond || limit.burstBytes != input_.burstBytes;
  input_ = limit;
  if (!changed) return;
  for (auto& [key, weak] : connections_) {
    if (auto connection = weak.lock()) connection->InputLimitChanged();
  }
}

void ConnectionRegistry::WhenAllClosed(std::function<void()> done) {
  if (openSockets_ == 0) {
    done();
    return;
  }
  allClosed_ = std::move(done);
}

}  // namespace orv
