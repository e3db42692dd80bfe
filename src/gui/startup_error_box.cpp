#include "gui/startup_error_box.h"

#include <QApplication>
#include <optional>

#include "console/version.h"

namespace orv {

std::unique_ptr<QMessageBox> MakeStartupErrorBox(const std::string& errors) {
  auto box = std::make_unique<QMessageBox>(QMessageBox::Critical, QString::fromLatin1(kProductName),
                                           QString(), QMessageBox::Ok);
  box->setObjectName(QStringLiteral("startupErrors"));
  // Values are shown as written: "<b>" in a setting is no markup. (Only the main text
  // follows the format, so everything is said there.)
  box->setTextFormat(Qt::PlainText);
  box->setText(QStringLiteral("The server did not start.\n\n") + QString::fromUtf8(errors) +
               QStringLiteral("\n\nMend the settings and start the server again. "
                              "orvchatserver --check-config -C DIR checks a working folder "
                              "without starting anything."));
  return box;
}

void ShowStartupErrors(const std::string& errors) {
  // QApplication keeps references to these for its whole life.
  static int argc = 1;
  static char programName[] = "orvchatserver";
  static char* argv[] = {programName, nullptr};
  std::optional<QApplication> app;
  if (QCoreApplication::instance() == nullptr) app.emplace(argc, argv);
  MakeStartupErrorBox(errors)->exec();
}

}  // namespace orv
