#include "win32/win32_operator_view.h"

#include <utility>

namespace orv {

void Win32OperatorView::Queue(EngineReport report) {
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    wake = reports_.empty();
    reports_.push_back(std::move(report));
  }
  // The window takes everything queued when it wakes: one message per batch.
  if (wake) PostMessageW(window_, kEngineReportMessage, 0, reinterpret_cast<LPARAM>(this));
}

std::optional<EngineReport> Win32OperatorView::TakeReport() {
  std::lock_guard lock(mutex_);
  if (reports_.empty()) return std::nullopt;
  EngineReport report = std::move(reports_.front());
  reports_.pop_front();
  return report;
}

void Win32OperatorView::ConsoleLineAppended(const std::string& line) {
  Queue([line](OperatorWindow& w) { w.AppendConsoleLine(line); });
}

void Win32OperatorView::ConsoleCleared() {
  Queue([](OperatorWindow& w) { w.ClearConsole(); });
}

void Win32OperatorView::UserRowsReplaced(const std::vector<UserRow>& rows) {
  {
    std::lock_guard lock(mutex_);
    const bool waiting = latestRows_.has_value();
    latestRows_ = rows;
    if (waiting) return;  // the report already queued shows these rows
  }
  Queue([this](OperatorWindow& w) {
    std::optional<std::vector<UserRow>> rows;
    {
      std::lock_guard lock(mutex_);
      rows.swap(latestRows_);
    }
    if (rows) w.ReplaceUserRows(std::move(*rows));
  });
}

void Win32OperatorView::TooltipChanged(const std::string& text) {
  Queue([text](OperatorWindow& w) { w.SetTooltip(text); });
}

void Win32OperatorView::TitleChanged(const std::string& title) {
  Queue([title](OperatorWindow& w) { w.SetTitle(title); });
}

void Win32OperatorView::TextsLoaded(const ViewTexts& texts) {
  Queue([texts](OperatorWindow& w) { w.SetTexts(texts); });
}

void Win32OperatorView::CommandRefused(const std::string& reason) {
  Queue([reason](OperatorWindow& w) { w.ShowRefusal(reason); });
}

void Win32OperatorView::StatusChanged(const ServerStatus& status) {
  Queue([status](OperatorWindow& w) { w.SetStatus(status); });
}

}  // namespace orv
