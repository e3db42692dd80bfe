#include "gui/operator_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>

#include "app/window_texts.h"
#include "console/version.h"
#include "gui/code_page_text.h"
#include "gui/console_view.h"
#include "gui/server_status_bar.h"
#include "gui/user_list.h"
#include "gui/user_menu.h"

// The icon lives in a static library; its resources must be registered by name, from the
// global namespace.
static void RegisterWindowResources() {
  static const bool registered = [] {
    Q_INIT_RESOURCE(orvchat);
    return true;
  }();
  (void)registered;
}

namespace orv {

namespace {

const QString kGeometryKey = QStringLiteral("window/geometry");
const QString kSplitterKey = QStringLiteral("window/splitter");

QIcon ApplicationIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 256}) {
    icon.addFile(QStringLiteral(":/orvchat/icons/orvchat_%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

std::int64_t SteadyClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

OperatorWindow::OperatorWindow(EngineCommands& engine, OperatorWindowOptions options,
                               QWidget* parent)
    : QDialog(parent), engine_(engine), options_(std::move(options)) {
  RegisterWindowResources();
  if (!options_.trayAvailable) {
    options_.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
  }
  if (!options_.steadyNowMs) options_.steadyNowMs = SteadyClockMs;

  // A main window of its own (taskbar button), resizable, with no maximise box.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setWindowTitle(QString::fromLatin1(kProductName));
  setWindowIcon(ApplicationIcon());
  BuildWidgets();
  setMinimumSize(kMinWidth, kMinHeight);
  PlaceWindow();
  SetColumnHeaders();
  BuildTray();

  uptimeTimer_ = new QTimer(this);
  uptimeTimer_->setInterval(1000);
  connect(uptimeTimer_, &QTimer::timeout, this, &OperatorWindow::ShowUptime);
  uptimeTimer_->start();
}

OperatorWindow::~OperatorWindow() = default;

void OperatorWindow::BuildWidgets() {
  console_ = new ConsoleView(this);
  console_->setObjectName(QStringLiteral("console"));
  console_->setMinimumHeight(40);

  exitButton_ = new QPushButton(tr("Exit"), this);
  exitButton_->setObjectName(QStringLiteral("exitButton"));
  refreshButton_ = new QPushButton(tr("Refresh"), this);
  refreshButton_->setObjectName(QStringLiteral("refreshButton"));
  for (QPushButton* button : {exitButton_, refreshButton_}) {
    button->setMinimumSize(55, 25);
    button->setAutoDefault(false);
  }

  filter_ = new QLineEdit(this);
  filter_->setObjectName(QStringLiteral("userFilter"));
  filter_->setPlaceholderText(tr("Find a user by name, MAC or IP"));
  filter_->setClearButtonEnabled(true);
  userList_ = new UserList(this);
  userList_->setObjectName(QStringLiteral("userList"));
  userList_->setMinimumHeight(60);

  commandLine_ = new QLineEdit(this);
  commandLine_->setObjectName(QStringLiteral("commandLine"));
  commandLine_->setPlaceholderText(tr("Message to everyone"));
  sendButton_ = new QPushButton(tr("Send"), this);
  sendButton_->setObjectName(QStringLiteral("sendButton"));
  sendButton_->setMinimumSize(80, 22);
  sendButton_->setDefault(true);  // Enter sends (except in the filter box)

  statusBar_ = new ServerStatusBar(this);
  statusBar_->setObjectName(QStringLiteral("statusBar"));

  // The console with Exit and Refresh at its right above, the filter and the user list
  // below, sharing the height through a splitter; the command line and Send under both,
  // the status bar at the foot.
  auto* buttons = new QVBoxLayout;
  buttons->setContentsMargins(0, 0, 0, 0);
  buttons->setSpacing(15);
  buttons->addSpacing(25);
  buttons->addWidget(exitButton_);
  buttons->addWidget(refreshButton_);
  buttons->addStretch(1);
  auto* top = new QWidget(this);
  auto* topLayout = new QHBoxLayout(top);
  topLayout->setContentsMargins(0, 0, 0, 0);
  topLayout->setSpacing(10);
  topLayout->addWidget(console_, 1);
  topLayout->addLayout(buttons);

  auto* listPane = new QWidget(this);
  auto* listLayout = new QVBoxLayout(listPane);
  listLayout->setContentsMargins(0, 0, 0, 0);
  listLayout->setSpacing(4);
  listLayout->addWidget(filter_);
  listLayout->addWidget(userList_, 1);

  splitter_ = new QSplitter(Qt::Vertical, this);
  splitter_->setObjectName(QStringLiteral("splitter"));
  splitter_->setChildrenCollapsible(false);
  splitter_->addWidget(top);
  splitter_->addWidget(listPane);
  // Growing the window grows both; the list a little more.
  splitter_->setStretchFactor(0, 2);
  splitter_->setStretchFactor(1, 3);

  auto* bottom = new QHBoxLayout;
  bottom->setSpacing(5);
  bottom->addWidget(commandLine_, 1);
  bottom->addWidget(sendButton_);

  auto* content = new QVBoxLayout;
  content->setContentsMargins(5, 5, 5, 3);
  content->setSpacing(5);
  content->addWidget(splitter_, 1);
  content->addLayout(bottom);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addLayout(content, 1);
  layout->addWidget(statusBar_);

  // Typing goes to the command line first; Tab then reaches Send, the filter, the list.
  setTabOrder(commandLine_, sendButton_);
  setTabOrder(sendButton_, filter_);
  setTabOrder(filter_, userList_);
  setTabOrder(userList_, console_);
  setTabOrder(console_, exitButton_);
  setTabOrder(exitButton_, refreshButton_);
  commandLine_->setFocus();

  connect(sendButton_, &QPushButton::clicked, this, &OperatorWindow::SendCommandLine);
  connect(refreshButton_, &QPushButton::clicked, this,
          [this] { engine_.Execute(command::Refresh{}); });
  connect(exitButton_, &QPushButton::clicked, this, &OperatorWindow::ConfirmExit);
  connect(filter_, &QLineEdit::textChanged, userList_, &UserList::SetFilter);
  connect(userList_, &UserList::userMenuRequested, this, &OperatorWindow::ShowUserMenu);
}

void OperatorWindow::BuildTray() {
  tray_ = new QSystemTrayIcon(windowIcon(), this);
  tray_->setToolTip(QString::fromLatin1(kProductName));
  trayMenu_ = new QMenu(this);
  trayMenu_->setObjectName(QStringLiteral("trayMenu"));
  connect(trayMenu_->addAction(tr("Show")), &QAction::triggered, this, [this] {
    // Unlike a click on the icon, Show also brings a minimised window back.
    setWindowState(windowState() & ~Qt::WindowMinimized);
    ShowFromTray();
  });
  trayMenu_->addSeparator();
  connect(trayMenu_->addAction(tr("Exit")), &QAction::triggered, this,
          &OperatorWindow::ConfirmExit);
  tray_->setContextMenu(trayMenu_);
  connect(tray_, &QSystemTrayIcon::activated, this, &OperatorWindow::TrayActivated);
  if (options_.trayAvailable()) tray_->show();
}

void OperatorWindow::PlaceWindow() {
  if (!options_.stateFile.isEmpty()) {
    const QSettings state(options_.stateFile, QSettings::IniFormat);
    if (restoreGeometry(state.value(kGeometryKey).toByteArray())) {
      splitter_->restoreState(state.value(kSplitterKey).toByteArray());
      return;
    }
  }
  // First run: the default size where the screen has room for it, centred.
  QSize size(kDefaultWidth, kDefaultHeight);
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen != nullptr) {
    size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
  }
  resize(size.expandedTo(QSize(kMinWidth, kMinHeight)));
  if (screen != nullptr) {
    QRect frame(QPoint(0, 0), this->size());
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
  // The console gets two fifths of the shared height.
  splitter_->setSizes({200, 300});
}

void OperatorWindow::SaveState() const {
  if (options_.stateFile.isEmpty()) return;
  QSettings state(options_.stateFile, QSettings::IniFormat);
  state.setValue(kGeometryKey, saveGeometry());
  state.setValue(kSplitterKey, splitter_->saveState());
  state.sync();
}

void OperatorWindow::SetColumnHeaders() {
  // The name column is at least one fifth of the window's width at the time the columns
  // get their titles.
  userList_->SetHeaders(texts_, width() / 5);
}

void OperatorWindow::AppendConsoleLine(const std::string& line) {
  // The console model ends lines itself; a stray carriage return would show as a box.
  QString text = FromCodePage(line);
  text.remove(QLatin1Char('\r'));
  console_->AppendLine(text);
}

void OperatorWindow::ClearConsole() {
  console_->ClearLines();
}

void OperatorWindow::ReplaceUserRows(std::vector<UserRow> rows) {
  rows_ = std::move(rows);
  usersOnline_ = static_cast<int>(rows_.size());
  userList_->ShowRows(rows_, texts_.floodStopper);
}

void OperatorWindow::SetTooltip(const std::string& text) {
  // Cut in code-page bytes, where every byte is one character.
  tray_->setToolTip(FromCodePage(std::string_view(text).substr(0, kTooltipBytes)));
}

void OperatorWindow::SetTitle(const std::string& title) {
  setWindowTitle(FromCodePage(title));
}

void OperatorWindow::SetTexts(ViewTexts texts) {
  texts_ = std::move(texts);
  SetColumnHeaders();
}

void OperatorWindow::SetStatus(const ServerStatus& status) {
  usersOnline_ = status.users;
  statusBar_->SetStatus(status);
  ShowUptime();
}

void OperatorWindow::ShowUptime() {
  statusBar_->ShowUptime(options_.steadyNowMs());
}

void OperatorWindow::ShowRefusal(const std::string& reason) {
  auto* box = new QMessageBox(QMessageBox::Information, windowTitle(), FromCodePage(reason),
                              QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

std::unique_ptr<QMenu> OperatorWindow::CreateUserMenu(int row) {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
  auto menu = std::make_unique<QMenu>(this);
  // The command names the user by MAC; the engine refuses it when the user has left by the
  // time it arrives, and the window says why.
  FillUserMenu(
      *menu, rows_[static_cast<std::size_t>(row)], texts_, [this](const OperatorCommand& command) {
        engine_.Execute(command, [window = this](Outcome outcome) {
          if (outcome.done) return;
          std::string reason;
          for (const std::string& line : outcome.lines)
            reason += (reason.empty() ? "" : "\n") + line;
          // Arrives on the engine thread; shown on the window's.
          QMetaObject::invokeMethod(
              window, [window, reason] { window->ShowRefusal(reason); }, Qt::QueuedConnection);
        });
      });
  return menu;
}

void OperatorWindow::ShowUserMenu(int row, const QPoint& globalPosition) {
  std::unique_ptr<QMenu> menu = CreateUserMenu(row);
  if (menu) menu->exec(globalPosition);
}

void OperatorWindow::SendCommandLine() {
  const QString text = commandLine_->text();
  if (text.isEmpty()) return;
  // Characters the code page lacks become one byte each, so the length rule counts what
  // the clients would receive.
  const std::string bytes = ToCodePage(text.trimmed());
  // The engine echoes what went out on the console (and in the log), in this window too.
  if (bytes.size() >= 2) engine_.Execute(command::Send{bytes});
  commandLine_->clear();
}

void OperatorWindow::ShowFromTray() {
  show();
  raise();
  activateWindow();
}

void OperatorWindow::TrayActivated(QSystemTrayIcon::ActivationReason reason) {
  // A left click (Trigger) or a right click (Context, which also opens the icon's menu)
  // brings the window back; show() keeps a minimised window minimised.
  if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::Context) return;
  show();
  if (reason == QSystemTrayIcon::Context) {
    // The menu the right click opens stays above the window, however the two were stacked.
    QTimer::singleShot(0, trayMenu_, [menu = trayMenu_] {
      if (menu->isVisible()) menu->raise();
    });
    return;
  }
  raise();
}

void OperatorWindow::closeEvent(QCloseEvent* event) {
  // The close box never stops the server. Hidden, the window can only come back through
  // the tray icon, so without one it is minimised instead.
  event->ignore();
  if (exiting_) return;
  SaveState();
  if (tray_->isVisible() && options_.trayAvailable()) {
    hide();
  } else {
    showMinimized();
  }
}

void OperatorWindow::keyPressEvent(QKeyEvent* event) {
  // Enter in the filter box only filters: it must not send the command line to everyone.
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && focusWidget() == filter_) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void OperatorWindow::reject() {
  // Escape stops nothing: it clears the line being typed, the filter when the filter box
  // has the focus, else the command line.
  if (focusWidget() == filter_) {
    filter_->clear();
  } else {
    commandLine_->clear();
  }
}

void OperatorWindow::ConfirmExit() {
  if (exiting_) return;
  if (usersOnline_ <= 0) {
    RequestExit();
    return;
  }
  if (!isVisible() || isMinimized()) {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    ShowFromTray();
  }
  if (exitQuestion_) {
    exitQuestion_->raise();
    exitQuestion_->activateWindow();
    return;
  }
  auto* box = new QMessageBox(QMessageBox::Question, windowTitle(),
                              QString::fromStdString(ExitQuestionText(usersOnline_)),
                              QMessageBox::NoButton, this);
  box->setObjectName(QStringLiteral("exitQuestion"));
  QPushButton* stop = box->addButton(tr("Exit"), QMessageBox::DestructiveRole);
  stop->setObjectName(QStringLiteral("confirmExit"));
  QPushButton* cancel = box->addButton(QMessageBox::Cancel);
  box->setDefaultButton(cancel);
  box->setEscapeButton(cancel);
  box->setAttribute(Qt::WA_DeleteOnClose);
  connect(box, &QMessageBox::buttonClicked, this, [this, stop](QAbstractButton* button) {
    if (button == stop) RequestExit();
  });
  exitQuestion_ = box;
  box->open();
}

void OperatorWindow::RequestExit() {
  if (exiting_) return;
  exiting_ = true;
  if (exitQuestion_) exitQuestion_->close();
  SaveState();
  hide();
  engine_.Shutdown();
  tray_->hide();
  emit exitRequested();
}

}  // namespace orv
