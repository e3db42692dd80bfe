#include "win32/win32_operator_view.h"

#include <utility>

namespace orv {

void Win32OperatorView::Post(EngineReport report) {
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

void Win32OperatorView::OnEvent(const EngineEvent& event) {
  if (const auto* line = std::get_if<event::ConsoleLine>(&event)) {
    Post([text = line->text](OperatorWindow& w) { w.AppendConsoleLine(text); });
  } else if (std::holds_alternative<event::ConsoleCleared>(event)) {
    Post([](OperatorWindow& w) { w.ClearConsole(); });
  } else if (const auto* list = std::get_if<event::UserList>(&event)) {
    UserRowsReplaced(list->rows);
  } else if (const auto* tooltip = std::get_if<event::Tooltip>(&event)) {
    Post([text = tooltip->text](OperatorWindow& w) { w.SetTooltip(text); });
  } else if (const auto* title = std::get_if<event::Title>(&event)) {
    Post([text = title->text](OperatorWindow& w) { w.SetTitle(text); });
  } else if (const auto* texts = std::get_if<event::Texts>(&event)) {
    Post([values = texts->texts](OperatorWindow& w) { w.SetTexts(values); });
  } else if (const auto* status = std::get_if<event::Status>(&event)) {
    Post([value = status->status](OperatorWindow& w) { w.SetStatus(value); });
  }
}

void Win32OperatorView::UserRowsReplaced(const std::vector<UserRow>& rows) {
  {
    std::lock_guard lock(mutex_);
    const bool waiting = latestRows_.has_value();
    latestRows_ = rows;
    if (waiting) return;  // the report already queued shows these rows
  }
  Post([this](OperatorWindow& w) {
    std::optional<std::vector<UserRow>> rows;
    {
      std::lock_guard lock(mutex_);
      rows.swap(latestRows_);
    }
    if (rows) w.ReplaceUserRows(std::move(*rows));
  });
}

}  // namespace orv
