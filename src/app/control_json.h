// The stable forms orvchatctl gives scripts (--json): the users online, the status, the
// stored blocks and the followed events, each one JSON document on one line. Texts are UTF-8
// strings (code-page bytes converted); control characters, DEL and the C1 controls in them
// are JSON escapes ("\u0001"), so a document holds no byte that could steer a terminal and
// passes orvchatctl's escaping unchanged. The field names are listed in the README.
#pragma once

#include <string>
#include <vector>

#include "server/engine_event.h"
#include "server/operator_command.h"

namespace orv {

// {"users":[{"mac","name","ip","address","block","afs"}...]}, in table order.
std::string UsersJson(const std::vector<UserRow>& rows);

// {"version","address","port","listening","notListeningReason","clientAddresses","users",
// "connections","uptimeSeconds"}.
std::string StatusJson(const ServerStatus& status);

// {"blocks":[{"key","looksLike","refusing"}...]}.
std::string BlocksJson(const std::vector<StoredBlock>& blocks);

// {"event":"console","text"} or {"event":"joined"|"changed"|"left","user"}; empty for the
// events a follower does not get.
std::string EventJson(const EngineEvent& event);

}  // namespace orv
