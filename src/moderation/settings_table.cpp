#include "moderation/settings_table.h"

#include <limits>
#include <type_traits>

namespace orv {

namespace {

constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kBytesMax = std::numeric_limits<std::int64_t>::max() / 10;
constexpr auto kOnReload = SettingTaken::kOnReload;
constexpr auto kAtStart = SettingTaken::kAtStart;
constexpr const char* kNotSent = "it is read as empty, so the message is not sent";

}  // namespace

const std::vector<SettingRow>& SettingRows() {
  using R = SettingRead;
  static const std::vector<SettingRow> rows = {
      {"ServerLanguage", R::kLanguage, kOnReload, &Settings::ServerLanguage},
      {"ServerName", R::kName, kOnReload, &Settings::ServerName, 0, 0, "the default name "},
      {"ServerIP", R::kAddress, kAtStart, &Settings::ServerIP},
      {"ServerPort", R::kPort, kAtStart, &Settings::ServerPort, 1, 65535},
      {"ServerAllowLog", R::kAnyNonZero, kOnReload, &Settings::ServerAllowLog, 0, 1,
       "1 to write the console lines to logs/, 0 not to"},
      {"DebugLog", R::kFromOne, kOnReload, &Settings::DebugLog, 0, 1,
       "1 to write trace lines to the log, 0 not to"},
      {"MaxLineMessage", R::kAsWritten, kOnReload, &Settings::MaxLineMessage, 0, kInt32Max,
       "lines the console keeps"},
      {"FloodStopper", R::kAsWritten, kOnReload, &Settings::FloodStopper, 0, 100,
       "the default AFS value"},
      {"MaxPacketSize", R::kInRange, kOnReload, &Settings::MaxPacketSize, 64, kInt32Max,
       "bytes a client may send without ending a packet"},
      {"MaxUsersPerConnection", R::kInRange, kOnReload, &Settings::MaxUsersPerConnection, 1,
       kInt32Max, "users one connection may hold"},
      {"BoardQuota", R::kInRange, kOnReload, &Settings::BoardQuota, 0, kBytesMax,
       "bytes all board files may take"},
      {"BoardFileLimit", R::kInRange, kOnReload, &Settings::BoardFileLimit, 0, kInt32Max,
       "bytes one board file may take"},
      {"IdleTimeout", R::kInRange, kOnReload, &Settings::IdleTimeout, 0, kInt32Max,
       "seconds without input before a close, 0 for never"},
      {"MaxConnectionsPerAddress", R::kInRange, kOnReload, &Settings::MaxConnectionsPerAddress, 0,
       kInt32Max, "connections from one address, 0 for any"},
      {"MaxInputRate", R::kInRange, kOnReload, &Settings::MaxInputRate, 0, kInt32Max,
       "bytes per second read from one connection, 0 for no limit"},
      {"LogKeepDays", R::kInRange, kOnReload, &Settings::LogKeepDays, 0, 100000,
       "days of logs to keep, 0 to keep all"},
      {"LogDayLimit", R::kInRange, kOnReload, &Settings::LogDayLimit, 0, kBytesMax,
       "bytes one day's log may take, 0 for no limit"},
      // The web console reads its settings when it starts.
      {"WebConsoleSessionMinutes", R::kInRange, kAtStart, &Settings::WebConsoleSessionMinutes, 1,
       10080, "minutes without a request before a web console session ends"},
      {"WebConsoleMetrics", R::kInRange, kAtStart, &Settings::WebConsoleMetrics, 0, 1,
       "1 to answer /metrics, 0 not to"},
      {"WebConsole", R::kWebAddress, kAtStart, &Settings::WebConsole},
      {"WebConsoleCertificate", R::kPath, kAtStart, &Settings::WebConsoleCertificate, 0, 0,
       "no HTTPS"},
      {"WebConsoleKey", R::kPath, kAtStart, &Settings::WebConsoleKey, 0, 0, "no HTTPS"},
      // Read where they are used: the alphabets at the start, the messages each time one
      // is sent.
      {"ServerPlainAlphabet", R::kElsewhere, kAtStart, {}, 0, 0, "it is read as empty"},
      {"ServerWireAlphabet", R::kElsewhere, kAtStart, {}, 0, 0, "it is read as empty"},
      {"ServerWelcomeMessage", R::kElsewhere, kOnReload, {}, 0, 0, kNotSent},
      {"ServerCloseMessage", R::kElsewhere, kOnReload, {}, 0, 0, kNotSent},
      {"ServerKickMessage", R::kElsewhere, kOnReload, {}, 0, 0, kNotSent},
      {"ServerBlockMessage", R::kElsewhere, kOnReload, {}, 0, 0, kNotSent},
  };
  return rows;
}

const SettingRow* FindSetting(std::string_view key) {
  for (const SettingRow& row : SettingRows()) {
    if (key == row.key) return &row;
  }
  return nullptr;
}

std::int64_t NumberValue(const SettingRow& row, const Settings& settings) {
  return std::visit(
      [&settings](auto field) -> std::int64_t {
        using F = decltype(field);
        if constexpr (std::is_same_v<F, bool Settings::*>) {
          return settings.*field ? 1 : 0;
        } else if constexpr (std::is_same_v<F, std::int32_t Settings::*> ||
                             std::is_same_v<F, std::int64_t Settings::*>) {
          return settings.*field;
        } else {
          return 0;
        }
      },
      row.field);
}

void SetNumberValue(const SettingRow& row, Settings& settings, std::int64_t value) {
  std::visit(
      [&settings, value](auto field) {
        using F = decltype(field);
        if constexpr (std::is_same_v<F, bool Settings::*>) {
          settings.*field = value != 0;
        } else if constexpr (std::is_same_v<F, std::int32_t Settings::*>) {
          settings.*field = static_cast<std::int32_t>(value);
        } else if constexpr (std::is_same_v<F, std::int64_t Settings::*>) {
          settings.*field = value;
        }
      },
      row.field);
}

std::string ValueText(const SettingRow& row, const Settings& settings) {
  if (const auto* text = std::get_if<std::string Settings::*>(&row.field)) return settings.**text;
  return std::to_string(NumberValue(row, settings));
}

void CopySetting(const SettingRow& row, const Settings& from, Settings& to) {
  std::visit(
      [&from, &to](auto field) {
        if constexpr (!std::is_same_v<decltype(field), std::monostate>) to.*field = from.*field;
      },
      row.field);
}

}  // namespace orv
