// The operator's window: console view and user list sharing the height, the filter above
// the list, command line, Refresh and Exit, a status bar, and the tray icon. It shows what
// the engine reports and hands every operator action to EngineCommands; it holds copies of
// values, never engine state. GUI thread only (QtOperatorView brings engine reports over).
#pragma once

#include <QDialog>
#include <QMenu>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/engine_commands.h"
#include "server/operator_values.h"

class QLineEdit;
class QMessageBox;
class QPushButton;
class QSplitter;
class QTimer;

namespace orv {

class ConsoleView;
class ServerStatusBar;
class UserList;

struct OperatorWindowOptions {
  // Whether a notification area is there to hold the icon; by default
  // QSystemTrayIcon::isSystemTrayAvailable (tests inject both answers).
  std::function<bool()> trayAvailable = {};
  // The file that keeps the window's size, position and splitter between runs; empty:
  // they are not kept.
  QString stateFile = {};
  // Milliseconds on the engine's steady clock (std::chrono::steady_clock), for the uptime.
  std::function<std::int64_t()> steadyNowMs = {};
};

class OperatorWindow : public QDialog {
  Q_OBJECT

 public:
  // The smallest size the window can be dragged to.
  static constexpr int kMinWidth = 530;
  static constexpr int kMinHeight = 370;
  // The size of a first run, made smaller to fit the screen; later runs take the size they
  // last had.
  static constexpr int kDefaultWidth = 760;
  static constexpr int kDefaultHeight = 540;
  // Tooltips are cut to this many code-page bytes, as the tray always did.
  static constexpr std::size_t kTooltipBytes = 127;

  explicit OperatorWindow(EngineCommands& engine, OperatorWindowOptions options = {},
                          QWidget* parent = nullptr);
  ~OperatorWindow() override;

  // Engine reports, texts in code-page bytes.
  void AppendConsoleLine(const std::string& line);
  void ClearConsole();
  void ReplaceUserRows(std::vector<UserRow> rows);
  void SetTooltip(const std::string& text);
  void SetTitle(const std::string& title);
  void SetTexts(ViewTexts texts);
  void ShowRefusal(const std::string& reason);
  void SetStatus(const ServerStatus& status);

  // The context menu for the user in row of the engine's table (the row the user has in the
  // last rows reported, whatever the list's sorting and filter); null when there is no such
  // row.
  std::unique_ptr<QMenu> CreateUserMenu(int row);

  // Exit and Exit in the tray menu: asks first when users are connected (saying how many
  // would be disconnected), then stops as RequestExit does.
  void ConfirmExit();
  // The stop signals and the end of the session, and a confirmed Exit: stops the engine
  // once, keeps the window's state, removes the tray icon and emits exitRequested.
  void RequestExit();

 signals:
  void exitRequested();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void reject() override;

 private:
  void BuildWidgets();
  void BuildTray();
  void PlaceWindow();
  void SaveState() const;
  void SendCommandLine();
  void ShowUserMenu(int row, const QPoint& globalPosition);
  void ShowFromTray();
  void TrayActivated(QSystemTrayIcon::ActivationReason reason);
  void SetColumnHeaders();
  void ShowUptime();

  EngineCommands& engine_;
  OperatorWindowOptions options_;
  std::vector<UserRow> rows_;
  ViewTexts texts_;
  int usersOnline_ = 0;
  bool exiting_ = false;

  ConsoleView* console_ = nullptr;
  QSplitter* splitter_ = nullptr;
  QLineEdit* filter_ = nullptr;
  UserList* userList_ = nullptr;
  QLineEdit* commandLine_ = nullptr;
  QPushButton* sendButton_ = nullptr;
  QPushButton* refreshButton_ = nullptr;
  QPushButton* exitButton_ = nullptr;
  ServerStatusBar* statusBar_ = nullptr;
  QTimer* uptimeTimer_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;
  QMenu* trayMenu_ = nullptr;
  QPointer<QMessageBox> exitQuestion_;
};

}  // namespace orv
