#include "gui/qt_operator_view.h"

#include <QMetaObject>
#include <utility>

#include "gui/operator_window.h"

namespace orv {

namespace {

// The window is the context object: a call still queued when it is destroyed is dropped.
template <typename Call>
void PostToWindow(OperatorWindow& window, Call call) {
  QMetaObject::invokeMethod(
      &window, [window = &window, call = std::move(call)]() mutable { call(*window); },
      Qt::QueuedConnection);
}

}  // namespace

void QtOperatorView::ConsoleLineAppended(const std::string& line) {
  PostToWindow(window_, [line](OperatorWindow& w) { w.AppendConsoleLine(line); });
}

void QtOperatorView::ConsoleCleared() {
  PostToWindow(window_, [](OperatorWindow& w) { w.ClearConsole(); });
}

void QtOperatorView::UserRowsReplaced(const std::vector<UserRow>& rows) {
  PostToWindow(window_, [rows](OperatorWindow& w) mutable { w.ReplaceUserRows(std::move(rows)); });
}

void QtOperatorView::TooltipChanged(const std::string& text) {
  PostToWindow(window_, [text](OperatorWindow& w) { w.SetTooltip(text); });
}

void QtOperatorView::TitleChanged(const std::string& title) {
  PostToWindow(window_, [title](OperatorWindow& w) { w.SetTitle(title); });
}

void QtOperatorView::TextsLoaded(const ViewTexts& texts) {
  PostToWindow(window_, [texts](OperatorWindow& w) { w.SetTexts(texts); });
}

void QtOperatorView::CommandRefused(const std::string& reason) {
  PostToWindow(window_, [reason](OperatorWindow& w) { w.ShowRefusal(reason); });
}

void QtOperatorView::StatusChanged(const ServerStatus& status) {
  PostToWindow(window_, [status](OperatorWindow& w) { w.SetStatus(status); });
}

}  // namespace orv
