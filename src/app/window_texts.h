// Texts and orderings the operator windows share, so that every window says the same: the
// status bar, the Exit question, the AFS cell, and how addresses sort. Results are UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "server/operator_values.h"

namespace orv {

// "Listening on 192.168.1.5:9010" (every address clients can use, also when the server
// listens on all of them), else "Not listening: " and the system's reason, or "Not
// listening" without one.
std::string ListeningText(const ServerStatus& status);
// "192.168.1.5:9010, 10.0.0.3:9010": where clients connect to.
std::string ClientAddressesText(const ServerStatus& status);
std::string UsersOnlineText(int users);
// "Up 1:02:03", and "Up 2 d 1:02:03" from the first day on.
std::string UptimeText(std::int64_t milliseconds);
// Asked before Exit stops a server with users online.
std::string ExitQuestionText(int users);
// The user's own AFS value, or the FloodStopper value in brackets when the user has none.
std::string AfsCellText(const UserRow& row, int floodStopper);
// Dotted IPv4 addresses sort by their numbers (10.0.0.9 before 10.0.0.10), anything else
// after them by its text.
std::string AddressSortKey(std::string_view text);

}  // namespace orv
