// The engine's events for the Windows window. Called on the engine thread; every event
// becomes a report (a call on the window, holding copies of the values) in a queue the
// window empties on its own thread. One message wakes the window for a whole batch, so a
// burst of reports (a login storm) can never fill the window's message queue, which
// Windows bounds, and of the user lists reported meanwhile the window shows the latest.
#pragma once

#include <windows.h>

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "server/engine_event.h"
#include "server/operator_values.h"
#include "win32/operator_window.h"

namespace orv {

class Win32OperatorView final : public EventSubscriber {
 public:
  explicit Win32OperatorView(HWND window) : window_(window) {}

  void OnEvent(const EngineEvent& event) override;
  // The window keeps its list from whole snapshots, at the engine's refreshes.
  bool WantsUserEvents() const override { return false; }
  // A call on the window from any thread (what a command the window gave came to): queued
  // with the engine's reports, in order.
  void Post(EngineReport report);

  // On the window's thread: the oldest report waiting, if any. One at a time, so that a
  // report that opens a message box (whose loop takes the next ones) keeps the order.
  std::optional<EngineReport> TakeReport();

 private:
  void UserRowsReplaced(const std::vector<UserRow>& rows);

  HWND window_;
  std::mutex mutex_;
  std::deque<EngineReport> reports_;
  // Only the latest user list counts: a list still waiting is replaced, not queued again.
  std::optional<std::vector<UserRow>> latestRows_;
};

}  // namespace orv
