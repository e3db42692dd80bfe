#include "gui/startup_error_box.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

namespace orv {
namespace {

TEST(StartupErrorBox, SaysEveryErrorAndWaitsForOk) {
  const std::string errors =
      "ServerPort is missing in /srv/chat/orvchatserver.cfg: give the port to listen on\n"
      "ServerIP \"<b>10.0.0</b>\" in /srv/chat/orvchatserver.cfg is not an IPv4 address";
  const auto box = MakeStartupErrorBox(errors);
  EXPECT_EQ(box->icon(), QMessageBox::Critical);
  EXPECT_EQ(box->windowTitle(), "ORV Chat Server");
  const QString expected = "The server did not start.\n\n" + QString::fromStdString(errors);
  EXPECT_TRUE(box->text().startsWith(expected)) << box->text().toStdString();
  EXPECT_TRUE(box->text().contains("--check-config"));
  EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
  // Values are shown as written, markup included.
  const auto* label = box->findChild<QLabel*>("qt_msgbox_label");
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->textFormat(), Qt::PlainText);

  // The box the program shows waits until OK is pressed.
  QString shown;
  QTimer presser;
  QObject::connect(&presser, &QTimer::timeout, [&shown] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* shownBox = qobject_cast<QMessageBox*>(widget);
      if (shownBox == nullptr || !shownBox->isVisible()) continue;
      EXPECT_TRUE(shownBox->isModal());
      shown = shownBox->text();
      shownBox->button(QMessageBox::Ok)->click();
    }
  });
  presser.start(10);
  ShowStartupErrors(errors);
  EXPECT_TRUE(shown.startsWith(expected)) << shown.toStdString();
}

}  // namespace
}  // namespace orv
