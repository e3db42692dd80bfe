#include "server/housekeeping.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "server/policy.h"

namespace orv {

Housekeeping::Housekeeping(EngineState& state, EngineCore& core)
    : s_(state),
      core_(core),
      listRefresh_(state.env.scheduler, state.alive),
      idleCheck_(state.env.scheduler, state.alive),
      logPruning_(state.env.scheduler, state.alive) {}

void Housekeeping::Start() {
  if (s_.shutDown) return;
  if (s_.settings.IdleTimeout > 0 && !idleCheck_.Armed()) {
    // A few looks per timeout period keep the error small without costing anything.
    const auto period = std::chrono::milliseconds(
        std::max<std::int64_t>(1000, std::int64_t{s_.settings.IdleTimeout} * 1000 / 4));
    // A reload may turn the timeout off meanwhile.
    idleCheck_.Every(
        period, [this] { return s_.settings.IdleTimeout > 0; }, [this] { CloseIdleConnections(); });
  }
  if (s_.settings.LogKeepDays > 0 && !logPruning_.Armed()) {
    logPruning_.Every(
        policy::kLogPrunePeriod, [this] { return s_.settings.LogKeepDays > 0; },
        [this] { PruneLogs(); });
  }
}

void Housekeeping::ConnectionAccepted() {
  if (s_.shutDown) return;
  listRefresh_.Once(policy::kListRefreshDelay, [this] { core_.RefreshUserList(); });
}

void Housekeeping::Stop() {
  listRefresh_.Cancel();
  idleCheck_.Cancel();
  logPruning_.Cancel();
}

void Housekeeping::PruneLogs() {
  const int removed = s_.log.PruneOldLogs(s_.settings.LogKeepDays);
  if (removed > 0) {
    core_.EventLine("Removed " + std::to_string(removed) +
                    (removed == 1 ? " day log" : " day logs") + " older than " +
                    std::to_string(s_.settings.LogKeepDays) + " days from logs/ (LogKeepDays)");
  }
}

void Housekeeping::CloseIdleConnections() {
  if (s_.shutDown) return;
  const auto now = s_.env.scheduler->SteadyNow();
  const std::chrono::milliseconds limit(std::int64_t{s_.settings.IdleTimeout} * 1000);
  std::vector<std::pair<ConnectionKey, std::string>> idle;
  for (const auto& connection : s_.connections.InOrder()) {
    const ConnectionList::Entry* entry = s_.connections.FindEntry(connection->Key());
    if (entry != nullptr && now - entry->lastInput >= limit) {
      idle.emplace_back(connection->Key(), connection->PeerAddress());
    }
  }
  for (const auto& [key, address] : idle) {
    core_.Notice("connections closed for IdleTimeout", address,
                 "Connection from " + address + core_.UsersOf(key) +
                     " closed: nothing received for " + std::to_string(s_.settings.IdleTimeout) +
                     " s (IdleTimeout)");
    core_.CloseConnection(key, address);
  }
}

}  // namespace orv
