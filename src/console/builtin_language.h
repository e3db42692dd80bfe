// The English operator texts built into the program, used when the language file the
// settings name cannot be read. They are the texts of language/lang_english.cfg.
#pragma once

#include <array>

#include "console/string_id.h"

namespace orv {

inline constexpr std::array<const char*, kStringCount> kBuiltInEnglish = {
    "on",
    "off",
    "for",
    "(switch off)",
    "Flood stopper (AFS)",
    "Server started",
    "Waiting for connections...",
    "Could not start listening: check ServerIP and ServerPort, or whether the port is in use",
    "Server stopped",
    "Server IP:",
    "Server port:",
    "Blocked by",
    "Block by IP",
    "Block by MAC",
    "Block by name",
    "Users online: %d",
    "Debug log:",
    "set to %d",
    "Address",
    "Kick",
    "Log file:",
    "Server name:",
    "Name",
    "Console is cleared when it holds more than %d lines",
    "Unblock by IP",
    "Unblock by MAC",
    "Unblock by name",
    "Refused a user whose IP is blocked: %s",
    "Refused a user whose MAC is blocked: %s",
    "Refused a user whose name is blocked: %s",
    "Blocked by IP: %s",
    "Blocked by MAC: %s",
    "Blocked by name: %s",
    "Unblocked by IP: %s",
    "Unblocked by MAC: %s",
    "Unblocked by name: %s",
    "Kicked user at %s",
    "Connection closed: %s",
    "Users connected: %d",
    "Close for an unknown connection: %s",
    "Connection accepted from %s",
};

}  // namespace orv
