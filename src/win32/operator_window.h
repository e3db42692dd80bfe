// The operator's window on Windows: console view and user list sharing the height through a
// splitter, the filter above the list, command line with Send, Refresh and Exit, a status
// bar, and the icon in the notification area. It shows what the engine reports and hands
// every operator action to EngineCommands; it holds copies of values, never engine state.
// UI thread only (Win32OperatorView brings engine reports over).
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/engine_commands.h"
#include "server/operator_values.h"
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
  // The smallest size the window can be dragged to, and the size of a first run (made
  // smaller to fit the screen), in pixels at 96 dots per inch.
  static constexpr int kMinWidth = 530;
  static constexpr int kMinHeight = 370;
  static constexpr int kDefaultWidth = 760;
  static constexpr int kDefaultHeight = 540;
  // Tooltips are cut to this many code-page bytes, as the tray always did.
  static constexpr std::size_t kTooltipBytes = 127;

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
  void ShowRefusal(const std::string& reason);
  // Where refusals of the window's commands go (called on the engine thread).
  void OnRefusal(std::function<void(const std::string&)> refused) { refused_ = std::move(refused); }
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
  void ShowUserMenu(LPARAM point);
  void ShowTrayMenu();
  void ShowFromTray();
  void AddTrayIcon();
  void ShowUptime();
  void FlushConsole();
  void DrawListeningStatus(const DRAWITEMSTRUCT& item) const;
  void SetStatusParts();

  EngineCommands& engine_;
  std::function<void(const std::string&)> refused_;
  std::wstring stateFile_;
  HWND window_ = nullptr;
  HWND console_ = nullptr;
  HWND exitButton_ = nullptr;
  HWND refreshButton_ = nullptr;
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

  double splitterShare_ = 0.4;  // the console's share of the height console and list share
  bool draggingSplitter_ = false;

  ViewTexts texts_;
  int usersOnline_ = 0;
  std::wstring listeningText_;
  bool listening_ = true;
  std::wstring usersText_;
  std::wstring uptimeText_;
  std::int64_t startedAtMs_ = -1;
  std::size_t consoleLength_ = 0;
  std::wstring pendingConsole_;  // lines of the reports being taken, not shown yet
  bool exiting_ = false;
  bool asking_ = false;
  HWND lastFocus_ = nullptr;  // the control to give the focus back to on activation
};

}  // namespace orv
