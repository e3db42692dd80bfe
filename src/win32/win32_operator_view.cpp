#include "win32/win32_operator_view.h"

#include <utility>

#include "win32/operator_window.h"

namespace orv {

namespace {

void PostToWindow(HWND window, EngineReport report) {
  auto* payload = new EngineReport(std::move(report));
  if (!PostMessageW(window, kEngineReportMessage, 0, reinterpret_cast<LPARAM>(payload)))
    delete payload;
}

}  // namespace

void Win32OperatorView::ConsoleLineAppended(const std::string& line) {
  PostToWindow(window_, [line](OperatorWindow& w) { w.AppendConsoleLine(line); });
}

void Win32OperatorView::ConsoleCleared() {
  PostToWindow(window_, [](OperatorWindow& w) { w.ClearConsole(); });
}

void Win32OperatorView::UserRowsReplaced(const std::vector<UserRow>& rows) {
  PostToWindow(window_, [rows](OperatorWindow& w) mutable { w.ReplaceUserRows(std::move(rows)); });
}

void Win32OperatorView::TooltipChanged(const std::string& text) {
  PostToWindow(window_, [text](OperatorWindow& w) { w.SetTooltip(text); });
}

void Win32OperatorView::TitleChanged(const std::string& title) {
  PostToWindow(window_, [title](OperatorWindow& w) { w.SetTitle(title); });
}

void Win32OperatorView::TextsLoaded(const ViewTexts& texts) {
  PostToWindow(window_, [texts](OperatorWindow& w) { w.SetTexts(texts); });
}

void Win32OperatorView::CommandRefused(const std::string& reason) {
  PostToWindow(window_, [reason](OperatorWindow& w) { w.ShowRefusal(reason); });
}

void Win32OperatorView::StatusChanged(const ServerStatus& status) {
  PostToWindow(window_, [status](OperatorWindow& w) { w.SetStatus(status); });
}

}  // namespace orv
