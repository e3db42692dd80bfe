#include "gui/run_operator_window.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QStandardPaths>
#include <exception>
#include <utility>

#include "app/engine_setup.h"
#include "app/host_commands.h"
#include "app/options.h"
#include "console/version.h"
#include "gui/operator_window.h"
#include "gui/qt_operator_view.h"
#include "net/engine_host.h"

namespace orv {

namespace {

// The window's size, position and splitter belong to the person at the desktop, not to a
// working folder: they live in the desktop's settings folder ($XDG_CONFIG_HOME, by default
// ~/.config), shared by every server that person runs.
QString WindowStateFile() {
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  if (folder.isEmpty()) return {};
  return folder + QStringLiteral("/orvchatserver/window.ini");
}

}  // namespace

int RunOperatorWindow(const AppOptions& options, WireCodec codec) {
  // QApplication keeps references to these for its whole life.
  static int argc = 1;
  static char programName[] = "orvchatserver";
  static char* argv[] = {programName, nullptr};
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(kProductName));
  QApplication::setApplicationVersion(QString::fromStdString(ProgramVersion()));
  // The window hides on its close box; only Exit and the stop signals end the run.
  QApplication::setQuitOnLastWindowClosed(false);

  // Destroyed in reverse order: the engine thread stops before the view and the window it
  // reports to go away.
  HostCommands commands;
  OperatorWindow window(commands, {.stateFile = WindowStateFile()});
  EngineHost host(
      MakeEngineOptions(options, std::move(codec), std::make_shared<QtOperatorView>(window)));
  commands.Attach(host);

  QObject::connect(&window, &OperatorWindow::exitRequested, &app, &QCoreApplication::quit,
                   Qt::QueuedConnection);
  // Arrives on the engine thread, which must not wait for itself: the stop runs on ours.
  host.SetSignalHandler([target = &window] {
    QMetaObject::invokeMethod(
        target, [target] { target->RequestExit(); }, Qt::QueuedConnection);
  });
  // A session that ends (log-off, shut-down) stops the server in order too.
  QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, &OperatorWindow::RequestExit);

  window.show();
  try {
    host.Start();
  } catch (const std::exception& error) {
    QMessageBox::critical(&window, window.windowTitle(), QString::fromLocal8Bit(error.what()));
    return 1;
  }
  const int code = app.exec();
  window.RequestExit();
  return code;
}

}  // namespace orv
