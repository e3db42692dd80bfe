// Helpers for the network tests: an io_context driven from the test thread, a recording
// ConnectionEvents, and plain blocking loopback clients with time-bounded reads.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "net/asio_network.h"
#include "server/network.h"

namespace orv::test {

using Clock = std::chrono::steady_clock;

// Runs the loop until done() holds or the time is up; true when done() held.
inline bool RunUntil(asio::io_context& io, const std::function<bool()>& done,
                     std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    io.restart();
    io.run_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Records what the network reports; keeps every accepted connection alive.
class RecordingEvents : public ConnectionEvents {
 public:
  struct PerConnection {
    std::vector<std::string> receives;
    int peerClosed = 0;
    int receiveErrors = 0;
    int overflows = 0;
  };

  void OnAccepted(std::shared_ptr<Connection> connection) override {
    accepted.push_back(connection);
    by[connection->Key()];
    if (onAccepted) onAccepted(*connection);
  }
  void OnReceived(Connection& connection, std::string_view data) override {
    by[connection.Key()].receives.emplace_back(data);
  }
  void OnReceiveError(Connection& connection) override { ++by[connection.Key()].receiveErrors; }
  void OnPeerClosed(Connection& connection) override { ++by[connection.Key()].peerClosed; }
  void OnAcceptFailed(const std::string& reason) override { acceptFailures.push_back(reason); }
  void OnOverflow(Connection& connection) override {
    ++by[connection.Key()].overflows;
    if (closeOnOverflow) connection.Close();
  }

  std::string Received(const Connection& connection) {
    std::string all;
    for (const auto& piece : by[connection.Key()].receives)
      all += piece;
    return all;
  }

  std::vector<std::shared_ptr<Connection>> accepted;
  std::vector<std::string> acceptFailures;
  std::unordered_map<ConnectionKey, PerConnection> by;
  std::function<void(Connection&)> onAccepted;
  bool closeOnOverflow = true;
};

// A listening network on 127.0.0.1 with a system-chosen port.
struct Loopback {
  explicit Loopback(std::size_t writeLimit = std::size_t{1} << 20) : network(io, writeLimit) {
    std::string error;
    listening = network.Listen("127.0.0.1", 0, events, &error);
  }

  // Connects a blocking client and waits until the server has accepted it.
  asio::ip::tcp::socket Connect(asio::io_context& clientIo) {
    asio::ip::tcp::socket socket(clientIo);
    socket.connect({asio::ip::make_address_v4("127.0.0.1"), network.LocalPort()});
    const std::size_t before = events.accepted.size();
    RunUntil(io, [&] { return events.accepted.size() > before; });
    return socket;
  }

  asio::io_context io;
  RecordingEvents events;
  AsioNetwork network;
  bool listening = false;
};

// Reads from a blocking client socket until want bytes arrived, the peer closed, or the
// time is up, while the server loop keeps running.
inline std::string ReadAtLeast(asio::io_context& serverIo, asio::ip::tcp::socket& socket,
                               std::size_t want,
                               std::chrono::milliseconds limit = std::chrono::milliseconds(3000),
                               bool* peerClosed = nullptr) {
  std::string got;
  socket.non_blocking(true);
  const auto deadline = Clock::now() + limit;
  char buffer[65536];
  while (got.size() < want && Clock::now() < deadline) {
    std::error_code error;
    const std::size_t count = socket.read_some(asio::buffer(buffer), error);
    if (!error) {
      got.append(buffer, count);
      continue;
    }
    if (error == asio::error::would_block || error == asio::error::try_again) {
      serverIo.restart();
      serverIo.run_for(std::chrono::milliseconds(2));
      continue;
    }
    if (peerClosed) *peerClosed = true;
    break;
  }
  return got;
}

inline SharedBytes Bytes(std::string text) {
  return SharedBytes::Make(std::move(text));
}

}  // namespace orv::test
