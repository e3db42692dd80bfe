// The window's status bar: where the server listens (or why it does not), how many users
// are online and how long it has been running (the texts are app/window_texts.h's).
#pragma once

#include <QStatusBar>
#include <QString>
#include <cstdint>
#include <optional>

#include "server/operator_values.h"

class QLabel;

namespace orv {

class ServerStatusBar : public QStatusBar {
  Q_OBJECT

 public:
  explicit ServerStatusBar(QWidget* parent = nullptr);

  // The engine's latest report.
  void SetStatus(const ServerStatus& status);
  // Shows the uptime at nowMs, on the clock of the report's startedAtMs.
  void ShowUptime(std::int64_t nowMs);

 private:
  QLabel* listening_ = nullptr;
  QLabel* users_ = nullptr;
  QLabel* uptime_ = nullptr;
  std::optional<std::int64_t> startedAtMs_;
};

}  // namespace orv
