// What the engine counts for monitoring: packets and bytes in, deliveries out, and the
// notices it gives about clients (refusals, closes), each by kind. Plain integers bumped on
// the engine thread where the thing happens; other threads see a copy in ServerStatus.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace orv {

struct EngineCounters {
  std::uint64_t packetsReceived = 0;  // complete packets acted on
  std::uint64_t bytesReceived = 0;    // bytes read from clients
  std::uint64_t deliveries = 0;       // buffers handed to a connection to send
  std::uint64_t blockedPackets = 0;   // packets of blocked senders, refused
  // Every notice about a client's doings by its kind ("refused packets", "slow readers
  // closed", ...), those the console held back included.
  std::map<std::string, std::uint64_t, std::less<>> notices;
};

}  // namespace orv
