#include "gui/qt_operator_view.h"

#include <QMetaObject>
#include <type_traits>
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

void QtOperatorView::OnEvent(const EngineEvent& event) {
  std::visit(
      [this](const auto& e) {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, event::ConsoleLine>) {
          PostToWindow(window_, [line = e.text](OperatorWindow& w) { w.AppendConsoleLine(line); });
        } else if constexpr (std::is_same_v<E, event::ConsoleCleared>) {
          PostToWindow(window_, [](OperatorWindow& w) { w.ClearConsole(); });
        } else if constexpr (std::is_same_v<E, event::UserList>) {
          PostToWindow(window_, [rows = e.rows](OperatorWindow& w) mutable {
            w.ReplaceUserRows(std::move(rows));
          });
        } else if constexpr (std::is_same_v<E, event::Tooltip>) {
          PostToWindow(window_, [text = e.text](OperatorWindow& w) { w.SetTooltip(text); });
        } else if constexpr (std::is_same_v<E, event::Title>) {
          PostToWindow(window_, [text = e.text](OperatorWindow& w) { w.SetTitle(text); });
        } else if constexpr (std::is_same_v<E, event::Texts>) {
          PostToWindow(window_, [texts = e.texts](OperatorWindow& w) { w.SetTexts(texts); });
        } else if constexpr (std::is_same_v<E, event::Status>) {
          PostToWindow(window_, [status = e.status](OperatorWindow& w) { w.SetStatus(status); });
        }
        // User events: the list comes whole, at the engine's refreshes.
      },
      event);
}

}  // namespace orv
