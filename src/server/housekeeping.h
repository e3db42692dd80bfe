// What the engine does by the clock: the list refresh a while after the start and after
// every accepted connection, closing connections silent for IdleTimeout, removing day logs
// older than LogKeepDays.
#pragma once

#include "server/engine_core.h"
#include "server/engine_state.h"
#include "server/periodic_task.h"

namespace orv {

class Housekeeping {
 public:
  Housekeeping(EngineState& state, EngineCore& core);

  // Arms the timers the settings ask for (IdleTimeout, LogKeepDays); again after a reload
  // (a timer that runs already goes on).
  void Start();
  // The list is refreshed policy::kListRefreshDelay after the last accepted connection.
  void ConnectionAccepted();
  // Nothing runs any more.
  void Stop();
  // Removes the day logs older than LogKeepDays now (also at the start and at a reload).
  void PruneLogs();

 private:
  void CloseIdleConnections();

  EngineState& s_;
  EngineCore& core_;
  PeriodicTask listRefresh_;
  PeriodicTask idleCheck_;
  PeriodicTask logPruning_;
};

}  // namespace orv
