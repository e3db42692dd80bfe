// The engine's values as JSON, one form for every front-end that speaks it (orvchatctl --json
// and the web console): texts turned from the code page into UTF-8, fields in the order the
// README lists them.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "server/operator_command.h"
#include "server/operator_values.h"

namespace orv {

// Field order as written: a person reading a document sees the fields where the README lists
// them.
using Json = nlohmann::ordered_json;

// {"mac", "name", "ip" (the IP the client reports), "address", "block", "afs"}: block is "" when
// not blocked, afs null when the user has no value of its own.
Json UserValue(const UserRow& row);
Json UsersValue(const std::vector<UserRow>& rows);
// {"version", "address", "port", "listening", "notListeningReason", "clientAddresses",
// "users", "connections", "uptimeSeconds"}.
Json StatusValue(const ServerStatus& status);
// [{"key", "looksLike": "address"|"mac"|"name", "refusing": [...]}].
Json BlocksValue(const std::vector<StoredBlock>& blocks);

// The document on one line. Bytes that are no UTF-8 are replaced, never thrown at; DEL and
// the C1 controls (U+0080 to U+009F, which some terminals take for control sequences) become
// escapes as the C0 controls do, so the text holds no byte that could steer a terminal.
std::string JsonLine(const Json& document);

}  // namespace orv
