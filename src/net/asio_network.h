// The listener on Asio: accepts TCP connections on one IPv4 address and port and hands each
// to the engine as an AsioConnection, which reads no faster than the input rate. Used on the
// engine thread (the io_context's thread).
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ip/udp.hpp>
#include <asio/steady_timer.hpp>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "server/network.h"

namespace orv {

class ConnectionRegistry;
class WriteBatcher;

class AsioNetwork final : public Network {
 public:
  AsioNetwork(asio::io_context& io, std::size_t writeLimitBytes);
  ~AsioNetwork() override;
  AsioNetwork(const AsioNetwork&) = delete;
  AsioNetwork& operator=(const AsioNetwork&) = delete;

  // A second call replaces the listener of the first.
  bool Listen(const std::string& address, std::int32_t port, ConnectionEvents& events,
              std::string* error) override;
  // Each connection is read at most this fast after a first burst of half the write limit
  // (at most 1 MiB), so that one sender's burst alone cannot overflow a reader that keeps
  // up. Applies to the connections already open too.
  void SetInputRate(std::int64_t bytesPerSecond) override;

  // The port actually bound (useful after listening on port 0); 0 when not listening.
  std::uint16_t LocalPort() const;
  // Closes the listener; connections already accepted stay.
  void StopListening();
  // Closes every live connection (queued output is still written, for a bounded time).
  void CloseAll();
  // Connections whose socket is still open.
  std::size_t OpenConnections() const;
  // Runs done once no connection socket is open any more (at once when none is).
  void WhenAllClosed(std::function<void()> done);
  // Frees what idle connections keep for writing (the engine calls it now and then).
  void ReleaseIdleMemory();
  // Bytes written to all connections so far.
  std::uint64_t BytesWritten() const;

 private:
  void AcceptNext();
  void OnAccept(const std::error_code& error, asio::ip::tcp::socket socket);
  // Hands one accepted socket to the engine as a connection and starts reading it.
  void Admit(asio::ip::tcp::socket socket);
  // Out of descriptors: gives the reserved one up to accept the newcomers that wait and
  // close them at once, then takes it back.
  void TurnAwayNewcomers();
  // Waits until a newcomer is there before accepting again.
  void WaitForNewcomer();
  void OpenReserve();

  asio::io_context& io_;
  const std::size_t writeLimit_;
  std::shared_ptr<ConnectionRegistry> registry_;
  std::shared_ptr<WriteBatcher> batcher_;
  std::unique_ptr<asio::ip::tcp::acceptor> acceptor_;
  asio::steady_timer retryTimer_;
  // A descriptor kept in reserve (an unbound UDP socket, which any system has): with none
  // left, it is what lets the listener tell a newcomer so by a prompt close instead of
  // leaving it in the backlog.
  asio::ip::udp::socket reserve_;
  ConnectionEvents* events_ = nullptr;
  // Guards deferred work of the listener against the network's destruction.
  std::shared_ptr<bool> alive_;
};

}  // namespace orv
