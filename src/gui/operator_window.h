// The operator's window: console view, user list with its context menu, command line,
// Refresh and Exit, and the tray icon. It shows what the engine reports and hands every
// operator action to EngineCommands; it holds copies of values, never engine state.
// GUI thread only (QtOperatorView brings engine reports over).
#pragma once

#include <QDialog>
#include <QMenu>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/engine_commands.h"
#include "server/operator_view.h"

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace orv {

class OperatorWindow : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kMinWidth = 530;
  static constexpr int kMinHeight = 370;
  // Tooltips are cut to this many code-page bytes, as the tray always did.
  static constexpr std::size_t kTooltipBytes = 127;

  // trayAvailable tells whether a notification area is there to hold the icon; by default
  // QSystemTrayIcon::isSystemTrayAvailable (tests inject both answers).
  explicit OperatorWindow(EngineCommands& engine, std::function<bool()> trayAvailable = {},
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

  // The context menu for row as the list shows it now; null when there is no such row.
  std::unique_ptr<QMenu> CreateUserMenu(int row);

  // Exit, Escape and the stop signals: stops the engine once, removes the tray icon and
  // emits exitRequested.
  void RequestExit();

 signals:
  void exitRequested();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void BuildWidgets();
  void SendCommandLine();
  void ShowUserMenu(const QPoint& position);
  void TrayActivated(QSystemTrayIcon::ActivationReason reason);
  void SetColumnHeaders();

  EngineCommands& engine_;
  std::function<bool()> trayAvailable_;
  std::vector<UserRow> rows_;
  ViewTexts texts_;
  bool exiting_ = false;

  QPlainTextEdit* console_ = nullptr;
  QTreeWidget* userList_ = nullptr;
  QLineEdit* commandLine_ = nullptr;
  QPushButton* sendButton_ = nullptr;
  QPushButton* refreshButton_ = nullptr;
  QPushButton* exitButton_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;
};

}  // namespace orv
