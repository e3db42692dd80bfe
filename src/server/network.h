// The engine's side of the network: the events a listener and its connections report, and
// the listener the engine starts. Everything is called on the engine thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "server/connection.h"

namespace orv {

class ConnectionEvents {
 public:
  virtual ~ConnectionEvents() = default;
  // A new connection was accepted.
  virtual void OnAccepted(std::shared_ptr<Connection> connection) = 0;
  // The bytes of one receive (1 to 4096 bytes, as read).
  virtual void OnReceived(Connection& connection, std::string_view data) = 0;
  // The receive failed (reset, or any other error than an orderly end).
  virtual void OnReceiveError(Connection& connection) = 0;
  // The peer closed the connection (end of stream).
  virtual void OnPeerClosed(Connection& connection) = 0;
  // The connection's write queue went past its byte limit; the network has already dropped
  // what was queued.
  virtual void OnOverflow(Connection& connection) = 0;
  // Accepting failed for a reason that does not belong to one connection (out of
  // descriptors, for instance); the listener tries again shortly by itself.
  virtual void OnAcceptFailed(const std::string& reason) = 0;
};

class Network {
 public:
  virtual ~Network() = default;
  // Listens on the dotted IPv4 address (empty: every local address) and port. false, with
  // a sentence in error, when the address does not read as one or bind/listen fail.
  virtual bool Listen(const std::string& address, std::int32_t port, ConnectionEvents& events,
                      std::string* error) = 0;
  // Bytes per second the network reads from each connection at most (0: no limit), from
  // the settings at the start and at every reload. A network without such a limit ignores it.
  virtual void SetInputRate(std::int64_t bytesPerSecond) { (void)bytesPerSecond; }
};

}  // namespace orv
