#include "web/web_values.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <type_traits>
#include <utility>

#include "console/code_page.h"

namespace orv {

namespace {

std::string Text(const std::string& codePage) {
  return Cp1251ToUtf8(codePage);
}

std::string SseEvent(const char* name, const Json& data) {
  return std::string("event: ") + name + "\ndata: " + JsonLine(data) + "\n\n";
}

// A label value with \, " and line breaks escaped, as the format asks.
std::string LabelValue(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '\\' || c == '"') {
      escaped += '\\';
      escaped += c;
    } else if (c == '\n') {
      escaped += "\\n";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

void Metric(std::string& out, const char* name, const char* type, const char* help,
            std::uint64_t value) {
  out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n" +
         name + " " + std::to_string(value) + "\n";
}

std::uint64_t Notices(const ServerStatus& status, const char* kind) {
  const auto found = status.counters.notices.find(kind);
  return found == status.counters.notices.end() ? 0 : found->second;
}

}  // namespace

Json TextsJson(const ViewTexts& texts) {
  auto text = [&texts](StringId id) { return Text(texts.String(id)); };
  return {{"serverName", Text(texts.serverName)},
          {"floodStopper", texts.floodStopper},
          {"afs", text(StringId::kFloodStopper)},
          {"afsFor", text(StringId::kAfsFor)},
          {"off", text(StringId::kOff)},
          {"afsSwitchOff", text(StringId::kAfsSwitchOff)},
          {"kick", text(StringId::kKick)},
          {"blockByIp", text(StringId::kBlockByIp)},
          {"blockByMac", text(StringId::kBlockByMac)},
          {"blockByName", text(StringId::kBlockByName)},
          {"unblockByIp", text(StringId::kUnblockByIp)},
          {"unblockByMac", text(StringId::kUnblockByMac)},
          {"unblockByName", text(StringId::kUnblockByName)},
          {"nameColumn", text(StringId::kNameColumn)},
          {"addressColumn", text(StringId::kAddressColumn)},
          {"blockColumn", text(StringId::kBlockColumn)}};
}

std::optional<std::string> EventText(const EngineEvent& event) {
  return std::visit(
      [](const auto& e) -> std::optional<std::string> {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, event::ConsoleLine>) {
          return SseEvent("console", {{"text", Text(e.text)}});
        } else if constexpr (std::is_same_v<E, event::ConsoleCleared>) {
          return SseEvent("cleared", Json::object());
        } else if constexpr (std::is_same_v<E, event::UserJoined>) {
          return SseEvent("joined", UserValue(e.user));
        } else if constexpr (std::is_same_v<E, event::UserChanged>) {
          return SseEvent("changed", UserValue(e.user));
        } else if constexpr (std::is_same_v<E, event::UserLeft>) {
          return SseEvent("left", UserValue(e.user));
        } else if constexpr (std::is_same_v<E, event::Status>) {
          return SseEvent("status", StatusValue(e.status));
        } else {
          return std::nullopt;
        }
      },
      event);
}

std::string MetricsText(const ServerStatus& status) {
  const EngineCounters& counts = status.counters;
  std::string out;
  Metric(out, "orvchat_users_online", "gauge", "Users online.",
         static_cast<std::uint64_t>(status.users));
  Metric(out, "orvchat_connections", "gauge", "Open client connections, users or not.",
         static_cast<std::uint64_t>(status.connections));
  Metric(out, "orvchat_listening", "gauge", "1 while the server listens for clients.",
         status.listening ? 1 : 0);
  Metric(out, "orvchat_packets_received_total", "counter", "Complete packets received.",
         counts.packetsReceived);
  Metric(out, "orvchat_bytes_received_total", "counter", "Bytes received from clients.",
         counts.bytesReceived);
  Metric(out, "orvchat_deliveries_total", "counter",
         "Packets (or batches of relayed packets) handed to a connection to send.",
         counts.deliveries);

  out +=
      "# HELP orvchat_refused_total What the server refused, by kind.\n"
      "# TYPE orvchat_refused_total counter\n";
  const std::pair<const char*, std::uint64_t> refused[] = {
      {"blocked", counts.blockedPackets},
      {"connection", Notices(status, "refused connections")},
      {"packet", Notices(status, "refused packets")},
      {"user", Notices(status, "refused users")},
      {"board_file", Notices(status, "refused board files")},
      {"posing_as_server", Notices(status, "packets posing as the server")},
      {"packet_too_long", Notices(status, "connections closed for MaxPacketSize")},
  };
  for (const auto& [kind, count] : refused)
    out +=
        std::string("orvchat_refused_total{kind=\"") + kind + "\"} " + std::to_string(count) + "\n";

  Metric(out, "orvchat_slow_readers_dropped_total", "counter",
         "Connections closed because they did not read what the server sent.",
         Notices(status, "slow readers closed"));
  const std::int64_t uptimeMs = std::max<std::int64_t>(0, status.takenAtMs - status.startedAtMs);
  // To the millisecond: a scrape right after the start still sees the clock run.
  char uptime[32];
  std::snprintf(uptime, sizeof uptime, "%lld.%03lld", static_cast<long long>(uptimeMs / 1000),
                static_cast<long long>(uptimeMs % 1000));
  out +=
      "# HELP orvchat_uptime_seconds Seconds since the server started.\n"
      "# TYPE orvchat_uptime_seconds gauge\n"
      "orvchat_uptime_seconds " +
      std::string(uptime) + "\n";
  out +=
      "# HELP orvchat_notices_total Console notices about clients, by kind (also those the "
      "console held back).\n"
      "# TYPE orvchat_notices_total counter\n";
  for (const auto& [kind, count] : counts.notices) {
    out += "orvchat_notices_total{kind=\"" + LabelValue(Text(kind)) + "\"} " +
           std::to_string(count) + "\n";
  }
  return out;
}

}  // namespace orv
