// One client connection as the engine sees it. The network layer implements it; tests fake
// it. Every call happens on the engine thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "server/shared_bytes.h"
#include "users/connection_key.h"

namespace orv {

// Output made piece by piece while the connection takes it (the user list for thousands
// of users): it costs memory only as it is written, and a reader that takes it slowly only
// slows it down.
class OutputSource {
 public:
  virtual ~OutputSource() = default;
  // Appends the next piece to out (possibly nothing); false once there is nothing more.
  virtual bool Next(std::string& out) = 0;
};

class Connection {
 public:
  virtual ~Connection() = default;

  // Unique among live connections, stable for the connection's life, never empty.
  virtual ConnectionKey Key() const = 0;
  // Dotted IPv4 text of the peer, taken at accept; empty when it was not available.
  virtual const std::string& PeerAddress() const = 0;
  // Dotted IPv4 text of the local address the peer reached, taken at accept; empty when it
  // was not available.
  virtual const std::string& LocalAddress() const = 0;
  // Queues bytes behind everything queued before; nothing happens after Close.
  virtual void Send(SharedBytes bytes) = 0;
  // Queues what source makes, behind everything queued before; what is queued afterwards
  // follows once the source has nothing more. Its pieces do not count against the bound of
  // the write queue; the source is asked for more only when the rest has been written.
  virtual void SendFrom(std::unique_ptr<OutputSource> source) = 0;
  // Output queued after this call waits until duration has passed from the moment the
  // output queued before it has been written.
  virtual void HoldOutput(std::chrono::milliseconds duration) = 0;
  // Stops reading at once; what is already queued is still written (holds are skipped),
  // then the socket is closed. No event arrives for the connection afterwards.
  virtual void Close() = 0;
};

}  // namespace orv
