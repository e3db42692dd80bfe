// The engine's OperatorView for the Windows window. Called on the engine thread; every call
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

#include "server/operator_view.h"
#include "win32/operator_window.h"

namespace orv {

class Win32OperatorView final : public OperatorView {
 public:
  explicit Win32OperatorView(HWND window) : window_(window) {}

  void ConsoleLineAppended(const std::string& line) override;
  void ConsoleCleared() override;
  void UserRowsReplaced(const std::vector<UserRow>& rows) override;
  void TooltipChanged(const std::string& text) override;
  void TitleChanged(const std::string& title) override;
  void TextsLoaded(const ViewTexts& texts) override;
  void CommandRefused(const std::string& reason) override;
  void StatusChanged(const ServerStatus& status) override;

  // On the window's thread: the oldest report waiting, if any. One at a time, so that a
  // report that opens a message box (whose loop takes the next ones) keeps the order.
  std::optional<EngineReport> TakeReport();

 private:
  void Queue(EngineReport report);

  HWND window_;
  std::mutex mutex_;
  std::deque<EngineReport> reports_;
  // Only the latest user list counts: a list still waiting is replaced, not queued again.
  std::optional<std::vector<UserRow>> latestRows_;
};

}  // namespace orv
