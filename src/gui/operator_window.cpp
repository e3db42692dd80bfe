#include "gui/operator_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "console/escape.h"
#include "console/version.h"
#include "gui/code_page_text.h"
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

enum Column { kMacColumn, kNameColumn, kIpColumn, kPeerColumn, kBlockColumn, kColumnCount };

QIcon ApplicationIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 256}) {
    icon.addFile(QStringLiteral(":/orvchat/icons/orvchat_%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

}  // namespace

OperatorWindow::OperatorWindow(EngineCommands& engine, std::function<bool()> trayAvailable,
                               QWidget* parent)
    : QDialog(parent), engine_(engine), trayAvailable_(std::move(trayAvailable)) {
  RegisterWindowResources();
  if (!trayAvailable_) trayAvailable_ = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };

  // A main window of its own (taskbar button), resizable, with no maximise box.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setWindowTitle(QString::fromLatin1(kProductName));
  setWindowIcon(ApplicationIcon());
  BuildWidgets();

  setMinimumSize(kMinWidth, kMinHeight);
  resize(kMinWidth, kMinHeight);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame(QPoint(0, 0), size());
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
  SetColumnHeaders();

  tray_ = new QSystemTrayIcon(windowIcon(), this);
  tray_->setToolTip(QString::fromLatin1(kProductName));
  connect(tray_, &QSystemTrayIcon::activated, this, &OperatorWindow::TrayActivated);
  if (trayAvailable_()) tray_->show();
}

OperatorWindow::~OperatorWindow() = default;

void OperatorWindow::BuildWidgets() {
  console_ = new QPlainTextEdit(this);
  console_->setObjectName(QStringLiteral("console"));
  console_->setReadOnly(true);
  console_->setLineWrapMode(QPlainTextEdit::NoWrap);
  console_->setFixedHeight(100);

  exitButton_ = new QPushButton(tr("Exit"), this);
  exitButton_->setObjectName(QStringLiteral("exitButton"));
  refreshButton_ = new QPushButton(tr("Refresh"), this);
  refreshButton_->setObjectName(QStringLiteral("refreshButton"));
  for (QPushButton* button : {exitButton_, refreshButton_}) {
    button->setFixedSize(55, 25);
    button->setAutoDefault(false);
  }

  userList_ = new QTreeWidget(this);
  userList_->setObjectName(QStringLiteral("userList"));
  userList_->setColumnCount(kColumnCount);
  userList_->setRootIsDecorated(false);
  userList_->setItemsExpandable(false);
  userList_->setUniformRowHeights(true);
  userList_->setAllColumnsShowFocus(true);
  userList_->setSelectionMode(QAbstractItemView::SingleSelection);
  userList_->setSelectionBehavior(QAbstractItemView::SelectRows);
  userList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  userList_->setSortingEnabled(false);  // row index is the user's index in the engine
  userList_->header()->setStretchLastSection(false);
  userList_->header()->setSectionsMovable(false);
  userList_->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  userList_->setContextMenuPolicy(Qt::CustomContextMenu);

  commandLine_ = new QLineEdit(this);
  commandLine_->setObjectName(QStringLiteral("commandLine"));
  commandLine_->setFixedHeight(22);
  sendButton_ = new QPushButton(tr("Send"), this);
  sendButton_->setObjectName(QStringLiteral("sendButton"));
  sendButton_->setFixedSize(80, 22);
  sendButton_->setDefault(true);  // Enter anywhere in the window sends

  // Console at the top left with Exit and Refresh at its right, the user list below, the
  // command line and Send at the bottom; the list takes what the window grows by.
  auto* buttons = new QVBoxLayout;
  buttons->setContentsMargins(0, 0, 0, 0);
  buttons->setSpacing(15);
  buttons->addSpacing(25);
  buttons->addWidget(exitButton_);
  buttons->addWidget(refreshButton_);
  buttons->addStretch(1);
  auto* top = new QHBoxLayout;
  top->setSpacing(10);
  top->addWidget(console_, 1);
  top->addLayout(buttons);
  auto* bottom = new QHBoxLayout;
  bottom->setSpacing(5);
  bottom->addWidget(commandLine_, 1);
  bottom->addWidget(sendButton_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(5, 5, 5, 5);
  layout->setSpacing(5);
  layout->addLayout(top);
  layout->addWidget(userList_, 1);
  layout->addLayout(bottom);

  connect(sendButton_, &QPushButton::clicked, this, &OperatorWindow::SendCommandLine);
  connect(refreshButton_, &QPushButton::clicked, this, [this] { engine_.Refresh(); });
  connect(exitButton_, &QPushButton::clicked, this, &OperatorWindow::RequestExit);
  connect(userList_, &QWidget::customContextMenuRequested, this, &OperatorWindow::ShowUserMenu);
}

void OperatorWindow::SetColumnHeaders() {
  userList_->setHeaderLabels(
      {QStringLiteral("MAC"), FromCodePage(texts_.String(StringId::kNameColumn)),
       QStringLiteral("IP"), FromCodePage(texts_.String(StringId::kAddressColumn)),
       FromCodePage(texts_.String(StringId::kBlockColumn))});
  userList_->setColumnWidth(kMacColumn, 100);
  // One fifth of the window's client width at the time the columns get their titles.
  userList_->setColumnWidth(kNameColumn, width() / 5);
  userList_->setColumnWidth(kIpColumn, 75);
  userList_->setColumnWidth(kPeerColumn, 75);
  userList_->setColumnWidth(kBlockColumn, 50);
}

void OperatorWindow::AppendConsoleLine(const std::string& line) {
  // The console model ends lines itself; a stray carriage return would show as a box.
  QString text = FromCodePage(line);
  text.remove(QLatin1Char('\r'));
  console_->appendPlainText(text);
  // Follow the last line even when the operator had scrolled up.
  QScrollBar* bar = console_->verticalScrollBar();
  bar->setValue(bar->maximum());
}

void OperatorWindow::ClearConsole() {
  console_->clear();
}

void OperatorWindow::ReplaceUserRows(std::vector<UserRow> rows) {
  rows_ = std::move(rows);
  userList_->clear();
  QList<QTreeWidgetItem*> items;
  items.reserve(static_cast<qsizetype>(rows_.size()));
  // Names, addresses and MACs are what clients wrote: control characters show as escapes.
  auto cell = [](const std::string& text) { return FromCodePage(EscapeControlCharacters(text)); };
  for (const UserRow& row : rows_) {
    items.append(
        new QTreeWidgetItem(QStringList{cell(row.mac), cell(row.name), cell(row.reportedIp),
                                        cell(row.peerAddress), cell(row.blockText)}));
  }
  userList_->addTopLevelItems(items);
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

void OperatorWindow::ShowRefusal(const std::string& reason) {
  auto* box = new QMessageBox(QMessageBox::Information, windowTitle(), FromCodePage(reason),
                              QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

std::unique_ptr<QMenu> OperatorWindow::CreateUserMenu(int row) {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
  auto menu = std::make_unique<QMenu>(this);
  // The row index and the user's MAC travel with the command; the engine refuses it when
  // the row holds somebody else by the time it arrives.
  FillUserMenu(*menu, rows_[static_cast<std::size_t>(row)], texts_,
               [this, row, mac = rows_[static_cast<std::size_t>(row)].mac](RowCommand command,
                                                                           int afsValue) {
                 engine_.RunRowCommand(command, row, afsValue, mac);
               });
  return menu;
}

void OperatorWindow::ShowUserMenu(const QPoint& position) {
  QTreeWidgetItem* item = userList_->itemAt(position);
  if (item == nullptr) return;
  userList_->setCurrentItem(item);
  std::unique_ptr<QMenu> menu = CreateUserMenu(userList_->indexOfTopLevelItem(item));
  if (menu) menu->exec(userList_->viewport()->mapToGlobal(position));
}

void OperatorWindow::SendCommandLine() {
  const QString text = commandLine_->text();
  if (text.isEmpty()) return;
  // Characters the code page lacks become one byte each, so the length rule counts what
  // the clients would receive.
  const std::string bytes = ToCodePage(text.trimmed());
  if (bytes.size() >= 2) engine_.Send(bytes);
  commandLine_->clear();
}

void OperatorWindow::TrayActivated(QSystemTrayIcon::ActivationReason reason) {
  // A left click (Trigger) or a right click (Context) brings the window back; show()
  // keeps a minimised window minimised.
  if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::Context) return;
  show();
  raise();
}

void OperatorWindow::closeEvent(QCloseEvent* event) {
  // The close box never stops the server. Hidden, the window can only come back through
  // the tray icon, so without one it is minimised instead.
  event->ignore();
  if (exiting_) return;
  if (tray_->isVisible() && trayAvailable_()) {
    hide();
  } else {
    showMinimized();
  }
}

void OperatorWindow::reject() {
  RequestExit();
}

void OperatorWindow::RequestExit() {
  if (exiting_) return;
  exiting_ = true;
  hide();
  engine_.Shutdown();
  tray_->hide();
  emit exitRequested();
}

}  // namespace orv
