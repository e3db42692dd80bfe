// What the engine tells its front-ends, as plain values: a row of the user list, the texts the
// windows need, the server at a glance. All texts are code-page bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "console/string_id.h"
#include "moderation/block_state.h"
#include "server/engine_counters.h"

namespace orv {

// One row of the user list, in table order.
struct UserRow {
  std::string mac;
  std::string name;         // empty when the user has none
  std::string reportedIp;   // the IP the client reports for itself
  std::string peerAddress;  // the connection's remote address
  std::string blockText;    // "IP", "MAC", "NAME" or empty
  BlockState blockState = BlockState::kNone;
  std::int32_t afs = -1;  // -1: none of the user's own
};

// Texts and values the window needs for headers and menus, sent once after the settings
// are loaded.
struct ViewTexts {
  std::vector<std::string> strings;  // language strings 0..40 (GetString results)
  std::int32_t floodStopper = 15;
  std::string serverName;

  // The string, or " " when there is none (as the language table answers).
  std::string String(StringId id) const {
    const auto n = static_cast<std::size_t>(id);
    return n < strings.size() ? strings[n] : std::string(" ");
  }
};

// The server at a glance: where it listens, how many users it has, since when it runs.
struct ServerStatus {
  std::string version;             // "1.3.1.0 beta"
  std::string address;             // ServerIP as configured (empty: every local address)
  std::int32_t port = 0;           // ServerPort as configured
  bool listening = false;          // false before the start and when listening failed
  std::string notListeningReason;  // why not, in the system's words, when it failed
  int users = 0;
  // Steady time (milliseconds) of the start, and of the moment the status was taken: the
  // difference is the uptime.
  std::int64_t startedAtMs = 0;
  std::int64_t takenAtMs = 0;
  // The addresses clients are to use: ServerIP, or, when the server listens on every
  // address, the machine's own.
  std::vector<std::string> clientAddresses{};
  int connections = 0;  // open connections, users or not
  EngineCounters counters{};
};

}  // namespace orv
