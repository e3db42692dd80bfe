// The window's status bar: where the server listens (or why it does not), how many users
// are online and how long it has been running.
#pragma once

#include <QStatusBar>
#include <QString>
#include <cstdint>
#include <optional>

#include "server/operator_view.h"

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

  // "Listening on ADDRESS:PORT" or "Not listening: reason".
  static QString ListeningText(const ServerStatus& status);
  static QString UsersText(int users);
  // "Up 0:05:07", with days in front once there are any ("Up 2 d 3:04:05").
  static QString UptimeText(std::int64_t milliseconds);

 private:
  QLabel* listening_ = nullptr;
  QLabel* users_ = nullptr;
  QLabel* uptime_ = nullptr;
  std::optional<std::int64_t> startedAtMs_;
};

}  // namespace orv
