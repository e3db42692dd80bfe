// The operator's window: console view and user list sharing the height, the filter above
// the list, command line, Exit, Refresh and Blocks..., a status bar, and the tray icon. It
// draws what the engine reports as its OperatorModel says and hands every operator action
// to EngineCommands; it holds copies of values, never engine state. GUI thread only
// (QtOperatorView brings engine reports over).
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
#include "app/operator_model.h"
#include "server/operator_values.h"

class QLineEdit;
class QMessageBox;
class QPushButton;
class QSplitter;
class QTimer;

namespace orv {

class BlocksDialog;
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
  static constexpr int kMinWidth = OperatorModel::kLeastSize.width;
  static constexpr int kMinHeight = OperatorModel::kLeastSize.height;
  // The size of a first run, made smaller to fit the screen; later runs take the size they
  // last had.
  static constexpr int kDefaultWidth = OperatorModel::kFirstSize.width;
  static constexpr int kDefaultHeight = OperatorModel::kFirstSize.height;

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
  // A command the window gave was refused; reason in UTF-8.
  void ShowRefusal(const QString& reason);
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
  void ShowUsers();
  void ShowUptime();
  void ShowBlocks();

  EngineCommands& engine_;
  OperatorWindowOptions options_;
  OperatorModel model_;

  ConsoleView* console_ = nullptr;
  QSplitter* splitter_ = nullptr;
  QLineEdit* filter_ = nullptr;
  UserList* userList_ = nullptr;
  QLineEdit* commandLine_ = nullptr;
  QPushButton* sendButton_ = nullptr;
  QPushButton* refreshButton_ = nullptr;
  QPushButton* blocksButton_ = nullptr;
  QPushButton* exitButton_ = nullptr;
  ServerStatusBar* statusBar_ = nullptr;
  QTimer* uptimeTimer_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;
  QMenu* trayMenu_ = nullptr;
  QPointer<QMessageBox> exitQuestion_;
  BlocksDialog* blocks_ = nullptr;  // made when first opened
};

}  // namespace orv
