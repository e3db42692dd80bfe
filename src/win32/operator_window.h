// The operator's window on Windows: console view and user list sharing the height through a
// splitter, the filter above the list, command line with Send, Exit, Refresh and Blocks...,
// a status bar, and the icon in the notification area. It draws what the engine reports as
// its OperatorModel says and hands every operator action to EngineCommands; it holds copies
// of values, never engine state. UI thread only (Win32OperatorView brings engine reports
// over).
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/engine_commands.h"
#include "app/operator_model.h"
#include "server/operator_values.h"
#include "win32/blocks_window.h"
#include "win32/user_list_view.h"

namespace orv {

// Posted to the window when engine reports wait: lParam is the Win32OperatorView that
// holds them.
inline constexpr UINT kEngineReportMessage = WM_APP + 1;
// Posted by the stop signals and the console's events: stop without asking.
inline constexpr UINT kStopMessage = WM_APP + 2;

class OperatorWindow;
class Win32OperatorView;
using EngineReport = std::function<void(OperatorWindow&)>;

class OperatorWindow {
 public:
  // stateFile keeps size, position and splitter between runs (empty: not kept).
  OperatorWindow(EngineCommands& engine, std::wstring stateFile);
  ~OperatorWindow();
  OperatorWindow(const OperatorWindow&) = delete;
  OperatorWindow& operator=(const OperatorWindow&) = delete;

  // Makes the window (hidden) and its tray icon; false when Windows refused the window.
  bool Create();
  HWND Handle() const { return window_; }
  void Show();
  // Runs the messages until the window has stopped the engine; the exit code.
  int Run();

  // Engine reports, texts in code-page bytes.
  void AppendConsoleLine(const std::string& line);
  void ClearConsole();
  void ReplaceUserRows(std::vector<UserRow> rows);
  void SetTooltip(const std::string& text);
  void SetTitle(const std::string& title);
  void SetTexts(ViewTexts texts);
  // A command the window gave was refused; reason in UTF-8.
  void ShowRefusal(const std::string& reason);
  // How a call reaches the window's thread from the engine's (what the window's commands
  // came to).
  void OnEngineThread(std::function<void(EngineReport)> post) { post_ = std::move(post); }
  void SetStatus(const ServerStatus& status);

  // Exit and Exit in the tray menu: asks first while users are online.
  void ConfirmExit();
  // The stop signals, the console's events, the end of the session and a confirmed Exit:
  // stops the engine once, keeps the window's state, removes the tray icon, ends Run.
  void RequestExit();

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void BuildControls();
  void Layout();
  int Scaled(int pixels) const;
  int SharedHeight() const;
  RECT SplitterBar() const;
  void PlaceWindow();
  void SaveState() const;
  void SendCommandLine();
  // Hands command to the engine; show gets what it came to, on the window's thread.
  void Execute(OperatorCommand command, std::function<void(OperatorWindow&, const Outcome&)> show);
  void ExecuteForBlocks(const OperatorCommand& command);
  void ShowUserMenu(LPARAM point);
  void ShowTrayMenu();
  void ShowFromTray();
  void AddTrayIcon();
  void ShowUptime();
  void FlushConsole();
  void DrawListeningStatus(const DRAWITEMSTRUCT& item) const;
  void SetStatusParts();

  EngineCommands& engine_;
  std::function<void(EngineReport)> post_;
  OperatorModel model_;
  std::wstring stateFile_;
  HWND window_ = nullptr;
  HWND console_ = nullptr;
  HWND exitButton_ = nullptr;
  HWND refreshButton_ = nullptr;
  HWND blocksButton_ = nullptr;
  HWND filter_ = nullptr;
  UserListView userList_;
  HWND commandLine_ = nullptr;
  HWND sendButton_ = nullptr;
  HWND statusBar_ = nullptr;
  HFONT font_ = nullptr;
  HICON bigIcon_ = nullptr;
  HICON smallIcon_ = nullptr;
  int dpi_ = 96;

  NOTIFYICONDATAW tray_{};
  bool trayShown_ = false;
  UINT taskbarCreated_ = 0;

  // The console's share of the height console and list share.
  double splitterShare_ = OperatorModel::kFirstConsolePercent / 100.0;
  bool draggingSplitter_ = false;

  std::wstring listeningText_;
  bool listening_ = true;
  std::wstring usersText_;
  std::wstring uptimeText_;
  std::int64_t startedAtMs_ = -1;
  std::size_t consoleLength_ = 0;
  std::wstring pendingConsole_;  // lines of the reports being taken, not shown yet
  HWND lastFocus_ = nullptr;     // the control to give the focus back to on activation
  BlocksWindow blocks_{[this](const OperatorCommand& command) { ExecuteForBlocks(command); }};
};

}  // namespace orv
