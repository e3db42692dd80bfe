// What the web console gives besides the shared JSON forms (app/values_json.h): the window's
// texts, the page's event stream, and the counts for monitoring in the Prometheus text format.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/values_json.h"
#include "server/engine_event.h"
#include "server/operator_command.h"
#include "server/operator_values.h"

namespace orv {

// The window's texts the page uses for its list and menu (the server's language).
Json TextsJson(const ViewTexts& texts);

// One Server-Sent Event ("event: NAME\ndata: JSON\n\n") for what the page follows: console
// lines ("console", "cleared"), users ("joined", "changed", "left") and the status.
// Nothing for the events the page does not use.
std::optional<std::string> EventText(const EngineEvent& event);

// The counts for /metrics, in the Prometheus text format (version 0.0.4).
std::string MetricsText(const ServerStatus& status);

}  // namespace orv
