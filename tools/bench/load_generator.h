// The clients of the load generator: many connections on one or two epoll threads. Each
// client connects, announces itself (type 2) and is ready when its own announcement comes
// back; senders then send stamped chat packets while every client counts deliveries,
// losses and duplicates and measures latency. Linux only.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "latency_histogram.h"
#include "protocol/wire_codec.h"

namespace orv::bench {

struct LoadConfig {
  std::uint16_t port = 0;  // on 127.0.0.1
  int receivers = 0;       // clients that only listen
  int senders = 0;         // clients that also send (they listen too)
  std::size_t size = 100;  // bytes per chat packet on the wire, terminator included
  int window = 4;          // closed loop: packets a sender may have in flight
  double rate = 0;         // packets per second per sender; 0 means closed loop
  int threads = 1;
  int connectWindow = 200;  // clients connecting or announcing at once; 0: no limit
  bool trackLists = false;  // login storm: follow which names every client knows
  const WireCodec* codec = nullptr;
  std::string runTag;  // part of every MAC, so runs never share a user record
};

// Everything counted, summed over the threads.
struct LoadResults {
  std::uint64_t sent = 0;
  std::uint64_t deliveries = 0;        // stamped packets received, all clients
  std::uint64_t windowDeliveries = 0;  // of those, received before the window ended
  std::uint64_t lost = 0;              // sent but never received, per receiving client
  std::uint64_t duplicates = 0;
  std::uint64_t malformed = 0;  // units that did not read as packets
  std::uint64_t closed = 0;     // connections the other side closed
  std::uint64_t bytesReceived = 0;
  std::uint64_t rateShortfall = 0;            // fixed rate: packets not sent on time (window full)
  std::map<int, std::uint64_t> otherPackets;  // by type: server packets and foreign ones
  LatencyHistogram latency;
  double threadBusyMax = 0;  // the busiest thread's CPU share during the window
  // Login: per client, ns after the start when its own announcement came back and when it
  // knew every name (0: never); and how many got every name in their own list answer.
  std::vector<std::int64_t> readyNs;
  std::vector<std::int64_t> completeNs;
  std::uint64_t fullAnswers = 0;
};

std::int64_t NowNs();

class LoadGenerator {
 public:
  explicit LoadGenerator(LoadConfig config);
  ~LoadGenerator();
  LoadGenerator(const LoadGenerator&) = delete;
  LoadGenerator& operator=(const LoadGenerator&) = delete;

  int ClientCount() const { return config_.receivers + config_.senders; }
  // Header and terminator leave this much of a packet for the stamp and padding.
  std::size_t MinimumSize() const;

  // Starts the threads; they connect and announce every client. startNs is the time the
  // login figures are measured from.
  void Start(std::int64_t startNs);

  std::uint64_t ReadyCount() const { return ready_.load(std::memory_order_relaxed); }
  std::uint64_t CompleteCount() const { return complete_.load(std::memory_order_relaxed); }
  std::uint64_t SentCount() const;
  std::uint64_t DeliveredCount() const;
  std::int64_t LastReceiveNs() const;
  // The first fault that ends the run (connection refused, closed during set-up), in words.
  std::string Failure() const;

  // Senders send from startNs until endNs (monotonic clock).
  void BeginRun(std::int64_t startNs, std::int64_t endNs);

  // Stops and joins the threads, then sums up.
  LoadResults Finish();

  struct Shared;
  class Worker;

 private:
  LoadConfig config_;
  std::unique_ptr<Shared> shared_;
  std::vector<std::unique_ptr<Worker>> workers_;
  std::vector<std::thread> threads_;
  std::atomic<std::uint64_t> ready_{0};
  std::atomic<std::uint64_t> complete_{0};
};

}  // namespace orv::bench
