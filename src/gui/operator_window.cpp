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
#include "gui/blocks_dialog.h"
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
  setMinimumSize(OperatorModel::kLeastSize.width, OperatorModel::kLeastSize.height);
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
  blocksButton_ = new QPushButton(QString::fromLatin1(BlocksModel::kOpenButton), this);
  blocksButton_->setObjectName(QStringLiteral("blocksButton"));
  for (QPushButton* button : {exitButton_, refreshButton_, blocksButton_}) {
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

  // The console with Exit, Refresh and Blocks... at its right above, the filter and the user list
  // below, sharing the height through a splitter; the command line and Send under both,
  // the status bar at the foot.
  auto* buttons = new QVBoxLayout;
  buttons->setContentsMargins(0, 0, 0, 0);
  buttons->setSpacing(15);
  buttons->addSpacing(25);
  buttons->addWidget(exitButton_);
  buttons->addWidget(refreshButton_);
  buttons->addWidget(blocksButton_);
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
  setTabOrder(refreshButton_, blocksButton_);
  commandLine_->setFocus();

  connect(sendButton_, &QPushButton::clicked, this, &OperatorWindow::SendCommandLine);
  connect(refreshButton_, &QPushButton::clicked, this,
          [this] { engine_.Execute(command::Refresh{}); });
  connect(blocksButton_, &QPushButton::clicked, this, &OperatorWindow::ShowBlocks);
  connect(exitButton_, &QPushButton::clicked, this, &OperatorWindow::ConfirmExit);
  connect(filter_, &QLineEdit::textChanged, this, [this](const QString& text) {
    model_.SetFilter(text.toStdString());
    ShowUsers();
  });
  connect(userList_, &UserList::columnClicked, this, [this](int column) {
    model_.ClickColumn(column);
    ShowUsers();
  });
  connect(userList_, &UserList::userSelected, this,
          [this](int position) { model_.SelectShown(position); });
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
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QSize available =
      screen != nullptr ? screen->availableGeometry().size() : QSize(1 << 20, 1 << 20);
  const WindowSize size = OperatorModel::FirstSize({available.width(), available.height()});
  resize(size.width, size.height);
  if (screen != nullptr) {
    QRect frame(QPoint(0, 0), this->size());
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
  // Of 500 pixels, as the splitter has always been given its first sizes.
  splitter_->setSizes(
      {OperatorModel::kFirstConsolePercent * 5, (100 - OperatorModel::kFirstConsolePercent) * 5});
}

void OperatorWindow::SaveState() const {
  if (options_.stateFile.isEmpty()) return;
  QSettings state(options_.stateFile, QSettings::IniFormat);
  state.setValue(kGeometryKey, saveGeometry());
  state.setValue(kSplitterKey, splitter_->saveState());
  state.sync();
}

void OperatorWindow::SetColumnHeaders() {
  // The least widths follow the window's width at the time the columns get their titles.
  userList_->SetHeaders(model_, width());
}

void OperatorWindow::ShowUsers() {
  userList_->Show(model_);
}

void OperatorWindow::AppendConsoleLine(const std::string& line) {
  console_->AppendLine(QString::fromStdString(OperatorModel::ConsoleText(line)));
}

void OperatorWindow::ClearConsole() {
  console_->ClearLines();
}

void OperatorWindow::ReplaceUserRows(std::vector<UserRow> rows) {
  model_.SetRows(std::move(rows));
  ShowUsers();
}

void OperatorWindow::SetTooltip(const std::string& text) {
  tray_->setToolTip(QString::fromStdString(OperatorModel::TooltipText(text)));
}

void OperatorWindow::SetTitle(const std::string& title) {
  setWindowTitle(FromCodePage(title));
}

void OperatorWindow::SetTexts(ViewTexts texts) {
  model_.SetTexts(std::move(texts));
  SetColumnHeaders();
  ShowUsers();
}

void OperatorWindow::SetStatus(const ServerStatus& status) {
  model_.SetStatus(status);
  statusBar_->SetStatus(status);
  ShowUptime();
}

void OperatorWindow::ShowUptime() {
  statusBar_->ShowUptime(options_.steadyNowMs());
}

void OperatorWindow::ShowRefusal(const QString& reason) {
  auto* box =
      new QMessageBox(QMessageBox::Information, windowTitle(), reason, QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

std::unique_ptr<QMenu> OperatorWindow::CreateUserMenu(int row) {
  const std::optional<UserMenuModel> items = model_.MenuFor(row);
  if (!items) return nullptr;
  auto menu = std::make_unique<QMenu>(this);
  // The command names the user by MAC; the engine refuses it when the user has left by the
  // time it arrives, and the window says why.
  FillUserMenu(*menu, *items, [this](const OperatorCommand& command) {
    engine_.Execute(command, [window = this](Outcome outcome) {
      if (outcome.done) return;
      const QString reason = QString::fromStdString(OperatorModel::RefusalText(outcome));
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
  // The engine echoes what went out on the console (and in the log), in this window too.
  if (std::optional<OperatorCommand> send = OperatorModel::SendCommand(text.toStdString())) {
    engine_.Execute(std::move(*send));
  }
  commandLine_->clear();
}

void OperatorWindow::ShowBlocks() {
  if (blocks_ == nullptr) blocks_ = new BlocksDialog(engine_, this);
  blocks_->Open();
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
  const CloseStep step = model_.CloseBox(tray_->isVisible() && options_.trayAvailable());
  if (step == CloseStep::kNothing) return;
  SaveState();
  if (step == CloseStep::kHide) {
    hide();
  } else {
    showMinimized();
  }
}

void OperatorWindow::keyPressEvent(QKeyEvent* event) {
  // Enter in the filter box only filters: it must not send the command line to everyone.
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && !OperatorModel::EnterSends(focusWidget() == filter_)) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void OperatorWindow::reject() {
  // Escape stops nothing: it clears the line being typed.
  if (OperatorModel::Escape(focusWidget() == filter_) == OperatorModel::EscapeClears::kFilter) {
    filter_->clear();
  } else {
    commandLine_->clear();
  }
}

void OperatorWindow::ConfirmExit() {
  const ExitStep step = model_.Exit();
  if (step == ExitStep::kStoppedAlready) return;
  if (step == ExitStep::kStop) {
    RequestExit();
    return;
  }
  if (!isVisible() || isMinimized()) {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    ShowFromTray();
  }
  if (step == ExitStep::kQuestionOpen && exitQuestion_) {
    exitQuestion_->raise();
    exitQuestion_->activateWindow();
    return;
  }
  auto* box =
      new QMessageBox(QMessageBox::Question, windowTitle(),
                      QString::fromStdString(model_.ExitQuestion()), QMessageBox::NoButton, this);
  box->setObjectName(QStringLiteral("exitQuestion"));
  QPushButton* stop = box->addButton(tr("Exit"), QMessageBox::DestructiveRole);
  stop->setObjectName(QStringLiteral("confirmExit"));
  QPushButton* cancel = box->addButton(QMessageBox::Cancel);
  box->setDefaultButton(cancel);
  box->setEscapeButton(cancel);
  box->setAttribute(Qt::WA_DeleteOnClose);
  // However the question goes (a button, its close box, a stop meanwhile).
  connect(box, &QDialog::finished, this, [this, box, stop] {
    if (model_.ExitAnswered(box->clickedButton() == stop)) RequestExit();
  });
  exitQuestion_ = box;
  model_.ExitAsked();
  box->open();
}

void OperatorWindow::RequestExit() {
  if (!model_.BeginStop()) return;
  if (exitQuestion_) exitQuestion_->close();
  SaveState();
  hide();
  if (blocks_ != nullptr) blocks_->hide();
  engine_.Shutdown();
  tray_->hide();
  emit exitRequested();
}

}  // namespace orv
