// The live connections of one network, by key: hands out keys, counts open sockets, holds
// the input rate they all keep to and closes them all at shutdown. Shared by the network and
// its connections so that either may go first; used on the engine thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>

#include "users/connection_key.h"

namespace orv {

class AsioConnection;

// How fast each connection is read: a token bucket of burstBytes filled at bytesPerSecond.
struct InputLimit {
  std::int64_t bytesPerSecond = 0;  // 0: read as fast as input comes
  std::int64_t burstBytes = 0;
};

class ConnectionRegistry {
 public:
  // A key that is not 0 and not held by a connection that still exists.
  ConnectionKey NewKey();

  void Add(ConnectionKey key, const std::shared_ptr<AsioConnection>& connection);
  // Called by a connection's destructor.
  void Remove(ConnectionKey key);
  // Called once by each connection when its socket is closed.
  void SocketClosed();

  std::size_t Size() const { return connections_.size(); }
  std::size_t OpenSockets() const { return openSockets_; }

  // Calls Close on every connection that still exists.
  void CloseAll();
  // Frees the write queues of connections that have nothing queued (after a burst).
  void ReleaseIdleMemory();
  // Runs once when no socket is open any more (at once when none is open now).
  void WhenAllClosed(std::function<void()> done);

  // Read on every receive, so it costs one load when there is no limit.
  const InputLimit& Input() const { return input_; }
  // Connections waiting out their bucket look at the new rate at once.
  void SetInput(InputLimit limit);

 private:
  std::unordered_map<ConnectionKey, std::weak_ptr<AsioConnection>> connections_;
  std::uint32_t counter_ = 0;
  std::size_t openSockets_ = 0;
  std::function<void()> allClosed_;
  InputLimit input_;
};

}  // namespace orv
