// The server's settings record, filled from orvchatserver.cfg at start-up and read by
// every part of the engine afterwards. The initial values are the defaults a file that
// gives nothing usable leaves; each key's reading is a row of settings_table.h.
#pragma once

#include <cstdint>
#include <string>

#include "console/console_output.h"

namespace orv {

// DebugLog, ServerAllowLog and MaxLineMessage come from the console's switches, which the
// console reads by themselves.
inline constexpr const char* kDefaultServerName = "DIVIV";
inline constexpr const char* kDefaultLanguage = "english";

struct Settings : ConsoleSwitches {
  std::int32_t ServerPort = 0;     // TCP port to listen on
  std::int32_t FloodStopper = 15;  // default AFS value of users without one of their own
  std::string ServerIP;            // listening address, our IP in server packets
  std::string serverMac;           // our MAC (12 hex digits) or the substitute made from ServerIP
  std::string ServerName = kDefaultServerName;  // display name, at least 2 characters
  std::string versionText;                      // "1.3.1.0 beta"
  std::string ServerLanguage = kDefaultLanguage;

  // Limits that keep one client from harming the others. 0 turns the last three off.
  // A full board file (BoardFileLimit) and its header fit into one packet.
  std::int32_t MaxPacketSize = 69632;      // bytes a connection may send without a terminator
  std::int32_t MaxUsersPerConnection = 2;  // user records one connection may hold
  std::int64_t BoardQuota = 16 << 20;      // bytes all board files may take together
  std::int32_t BoardFileLimit = 65536;     // bytes one board file may take
  std::int32_t IdleTimeout = 0;            // seconds without input before a close
  std::int32_t MaxConnectionsPerAddress = 256;
  std::int32_t MaxInputRate = 262144;  // bytes per second read from one connection

  std::int32_t LogKeepDays = 0;         // days of logs kept (today's included); 0 keeps all
  std::int64_t LogDayLimit = 64 << 20;  // bytes one day's log may grow to; 0: no limit

  // The web console, read at the start: "address:port" to listen on (empty: none), the PEM
  // files that make it HTTPS, the minutes without a request that end a session, and
  // whether /metrics answers.
  std::string WebConsole;
  std::string WebConsoleCertificate;
  std::string WebConsoleKey;
  std::int32_t WebConsoleSessionMinutes = 30;
  std::int32_t WebConsoleMetrics = 1;
};

}  // namespace orv
