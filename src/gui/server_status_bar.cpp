#include "gui/server_status_bar.h"

#include <QLabel>
#include <QPalette>
#include <algorithm>

#include "app/window_texts.h"
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

void ServerStatusBar::SetStatus(const ServerStatus& status) {
  listening_->setText(QString::fromStdString(ListeningText(status)));
  // A server that does not listen is the one thing here that needs the operator.
  QPalette colours = palette();
  if (!status.listening) colours.setColor(QPalette::WindowText, QColor(0xB0, 0x00, 0x20));
  listening_->setPalette(colours);
  listening_->setToolTip(QString::fromLatin1(kProductName) + QLatin1Char(' ') +
                         FromCodePage(status.version));
  users_->setText(QString::fromStdString(UsersOnlineText(status.users)));
  startedAtMs_ = status.startedAtMs;
}

void ServerStatusBar::ShowUptime(std::int64_t nowMs) {
  if (startedAtMs_) uptime_->setText(QString::fromStdString(UptimeText(nowMs - *startedAtMs_)));
}

}  // namespace orv
