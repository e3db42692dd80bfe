// One accepted TCP connection on Asio: a read loop that hands every receive to the engine,
// and an ordered, bounded write queue of shared buffers with hold markers between them.
#pragma once

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "server/connection.h"
#include "server/network.h"

namespace orv {

class ConnectionRegistry;

class AsioConnection final : public Connection,
                             public std::enable_shared_from_this<AsioConnection> {
 public:
  // How long Close waits for queued output before it drops it and closes anyway.
  static constexpr std::chrono::milliseconds kCloseFlushLimit{2000};
  static constexpr std::size_t kReadBufferSize = 4096;

  AsioConnection(asio::ip::tcp::socket socket, std::int32_t key, std::string peerAddress,
                 ConnectionEvents& events, std::size_t writeLimitBytes,
                 std::shared_ptr<ConnectionRegistry> registry);
  ~AsioConnection() override;
  AsioConnection(const AsioConnection&) = delete;
  AsioConnection& operator=(const AsioConnection&) = delete;

  // Starts the read loop (after the engine has heard of the connection).
  void Start();

  std::int32_t Key() const override { return key_; }
  const std::string& PeerAddress() const override { return peerAddress_; }
  void Send(SharedBytes bytes) override;
  void HoldOutput(std::chrono::milliseconds duration) override;
  void Close() override;

  // Bytes queued (or being written) and not yet confirmed written.
  std::size_t QueuedBytes() const { return queuedBytes_; }
  bool IsSocketOpen() const { return !socketClosed_; }

 private:
  // One queue entry: bytes to write, or (bytes null) a pause of hold.
  struct Item {
    SharedBytes bytes;
    std::chrono::milliseconds hold{0};
  };

  void ReadNext();
  void OnRead(const std::error_code& error, std::size_t count);
  void PumpWrites();
  void OnWritten(const std::error_code& error);
  void OnWriteFailed();
  void Overflow();
  // Posts OnOverflow or OnPeerClosed; dropped if the engine closes the connection first.
  void PostEndEvent(bool overflow);
  // Everything queued is written: half-close, then close.
  void FinishClose();
  void CloseSocket();

  asio::ip::tcp::socket socket_;
  asio::steady_timer holdTimer_;
  asio::steady_timer closeDeadline_;
  const std::int32_t key_;
  const std::string peerAddress_;
  ConnectionEvents& events_;
  const std::size_t writeLimit_;
  std::shared_ptr<ConnectionRegistry> registry_;

  std::vector<char> readBuffer_;
  std::deque<Item> queue_;
  std::vector<SharedBytes> inFlight_;  // keeps the buffers of the running write alive
  std::vector<asio::const_buffer> gather_;
  std::size_t queuedBytes_ = 0;  // queued plus in flight
  std::size_t inFlightBytes_ = 0;

  bool started_ = false;
  bool reading_ = false;      // a read is in flight
  bool readStopped_ = false;  // no further read, no further receive event
  bool writing_ = false;      // a write or a hold is in flight
  bool closed_ = false;       // Close was called: no more events at all
  bool overflowed_ = false;   // the queue went past the limit; sends are dropped
  bool peerClosedReported_ = false;
  bool socketClosed_ = false;
};

}  // namespace orv
