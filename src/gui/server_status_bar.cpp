#include "gui/server_status_bar.h"

#include <QLabel>
#include <QPalette>
#include <algorithm>

#include "console/version.h"
#include "gui/code_page_text.h"

namespace orv {

ServerStatusBar::ServerStatusBar(QWidget* parent) : QStatusBar(parent) {
  setSizeGripEnabled(false);
  listening_ = new QLabel(this);
  listening_->setObjectName(QStringLiteral("listeningStatus"));
  listening_->setTextInteractionFlags(Qt::TextSelectableByMouse);  // the address, for copying
  users_ = new QLabel(this);
  users_->setObjectName(QStringLiteral("usersStatus"));
  uptime_ = new QLabel(this);
  uptime_->setObjectName(QStringLiteral("uptimeStatus"));
  for (QLabel* label : {listening_, users_, uptime_})
    label->setContentsMargins(4, 0, 8, 0);
  addWidget(listening_, 1);
  addPermanentWidget(users_);
  addPermanentWidget(uptime_);
}

QString ServerStatusBar::ListeningText(const ServerStatus& status) {
  if (!status.listening) {
    const QString reason = FromCodePage(status.notListeningReason).trimmed();
    return reason.isEmpty() ? tr("Not listening") : tr("Not listening: %1").arg(reason);
  }
  // An empty address listens on every local address.
  const QString address =
      status.address.empty() ? QStringLiteral("0.0.0.0") : FromCodePage(status.address);
  return tr("Listening on %1:%2").arg(address).arg(status.port);
}

QString ServerStatusBar::UsersText(int users) {
  return tr("Users online: %1").arg(users);
}

QString ServerStatusBar::UptimeText(std::int64_t milliseconds) {
  const std::int64_t seconds = std::max<std::int64_t>(milliseconds, 0) / 1000;
  const std::int64_t days = seconds / 86400;
  const QString clock = QStringLiteral("%1:%2:%3")
                            .arg(seconds / 3600 % 24)
                            .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
  return days > 0 ? tr("Up %1 d %2").arg(days).arg(clock) : tr("Up %1").arg(clock);
}

void ServerStatusBar::SetStatus(const ServerStatus& status) {
  listening_->setText(ListeningText(status));
  // A server that does not listen is the one thing here that needs the operator.
  QPalette colours = palette();
  if (!status.listening) colours.setColor(QPalette::WindowText, QColor(0xB0, 0x00, 0x20));
  listening_->setPalette(colours);
  listening_->setToolTip(QString::fromLatin1(kProductName) + QLatin1Char(' ') +
                         FromCodePage(status.version));
  users_->setText(UsersText(status.users));
  startedAtMs_ = status.startedAtMs;
}

void ServerStatusBar::ShowUptime(std::int64_t nowMs) {
  if (startedAtMs_) uptime_->setText(UptimeText(nowMs - *startedAtMs_));
}

}  // namespace orv
