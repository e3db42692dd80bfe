#include "net/connection_registry.h"

#include <algorithm>
#include <asio/post.hpp>
#include <utility>

#include "net/asio_connection.h"

namespace orv {

ConnectionRegistry::ConnectionRegistry(asio::any_io_executor executor)
    : executor_(std::move(executor)) {}

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

void ConnectionRegistry::WhenAllClosed(std::function<void()> done) {
  if (openSockets_ == 0) {
    done();
    return;
  }
  allClosed_ = std::move(done);
}

void ConnectionRegistry::MarkDirty(AsioConnection* connection) {
  dirty_.push_back(connection);
  if (flushPosted_) return;
  flushPosted_ = true;
  receivesAtPost_ = receives_;
  // A marked connection unmarks itself when it goes away; the weak reference covers a
  // network torn down before the flush.
  PostFlush();
}

void ConnectionRegistry::Forget(AsioConnection* connection) {
  std::replace(dirty_.begin(), dirty_.end(), connection, static_cast<AsioConnection*>(nullptr));
}

void ConnectionRegistry::PostFlush() {
  asio::post(executor_, [weak = weak_from_this()] {
    if (auto self = weak.lock()) self->FlushDirty();
  });
}

void ConnectionRegistry::FlushDirty() {
  // More input came in with the receive that asked for this flush: it is likely that more
  // is on its way in the next look at the sockets, so wait for that once. Output of many
  // receives then shares one write per connection, which costs far less than the short
  // wait (one pass of the loop).
  if (receives_ != receivesAtPost_ && !deferred_) {
    deferred_ = true;
    receivesAtPost_ = receives_;
    PostFlush();
    return;
  }
  deferred_ = false;
  // Writing never calls into the engine and never drops a reference to a connection (its
  // end events are posted), so every connection in the list stays alive through its
  // Flush; one that went away before was taken out by its destructor. A connection marked
  // meanwhile is handled in this same pass: walk by index.
  for (std::size_t i = 0; i < dirty_.size(); ++i) {
    AsioConnection* connection = dirty_[i];
    if (connection == nullptr) continue;
    dirty_[i] = nullptr;
    connection->FlushListed();
  }
  dirty_.clear();
  // A long list after a storm is not kept for ever.
  if (dirty_.capacity() > 4096) dirty_.shrink_to_fit();
  flushPosted_ = false;
}

}  // namespace orv
