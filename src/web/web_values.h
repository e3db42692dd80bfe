// The engine's values as the web console gives them: JSON for the API and the page's event
// stream (texts turned from the code page into UTF-8), and the counts for monitoring in the
// Prometheus text format.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

#include "server/engine_event.h"
#include "server/operator_command.h"
#include "server/operator_values.h"

namespace orv {

using Json = nlohmann::json;

// {"mac", "name", "ip", "address", "block", "afs"}: block is "" when not blocked, afs null
// when the user has no value of its own.
Json UserJson(const UserRow& user);
Json UsersJson(const std::vector<UserRow>& users);
// {"version", "address", "port", "listening", "notListeningReason", "users", "connections",
// "uptimeSeconds", "clientAddresses"}.
Json StatusJson(const ServerStatus& status);
// [{"key", "looksLike": "address"|"mac"|"name", "refusing": [...]}].
Json BlocksJson(const std::vector<StoredBlock>& blocks);
// The window's texts the page uses for its list and menu (the server's language).
Json TextsJson(const ViewTexts& texts);

// UTF-8 text of a JSON value; bytes that are no UTF-8 are replaced, never thrown at.
std::string JsonText(const Json& value);

// One Server-Sent Event ("event: NAME\ndata: JSON\n\n") for what the page follows: console
// lines ("console", "cleared"), users ("joined", "changed", "left") and the status.
// Nothing for the events the page does not use.
std::optional<std::string> EventText(const EngineEvent& event);

// The counts for /metrics, in the Prometheus text format (version 0.0.4).
std::string MetricsText(const ServerStatus& status);

}  // namespace orv
