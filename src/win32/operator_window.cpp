#include "win32/operator_window.h"

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <optional>

#include "app/window_texts.h"
#include "console/clock.h"
#include "console/version.h"
#include "win32/wide_text.h"
#include "win32/win32_operator_view.h"

namespace orv {

namespace {

constexpr wchar_t kClassName[] = L"OrvChatServerWindow";
constexpr int kIconId = 128;
constexpr UINT kTrayMessage = WM_APP + 10;
constexpr UINT_PTR kUptimeTimer = 1;

enum ControlId : int {
  kConsoleId = 1000,
  kRefreshId = 1001,
  kExitId = 1002,
  kListId = 1003,
  kCommandLineId = 1009,
  kSendId = 1010,
  kFilterId = 1011,
  kStatusId = 1012,
  kBlocksId = 1013,
};

enum TrayCommand : int { kTrayShow = 1, kTrayExit = 2 };

// The console keeps about this much text; older lines give way.
constexpr std::size_t kConsoleKeep = 512 * 1024;

std::int64_t SteadyClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

HWND MakeControl(HWND parent, const wchar_t* kind, const wchar_t* text, DWORD style, int id,
                 HFONT font, DWORD exStyle = 0) {
  HWND control = CreateWindowExW(exStyle, kind, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0,
                                 parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 GetModuleHandleW(nullptr), nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return control;
}

std::wstring WindowText(HWND control) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return text;
}

void Move(HWND control, int x, int y, int width, int height) {
  SetWindowPos(control, nullptr, x, y, std::max(width, 0), std::max(height, 0),
               SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

OperatorWindow::OperatorWindow(EngineCommands& engine, std::wstring stateFile)
    : engine_(engine), stateFile_(std::move(stateFile)) {}

OperatorWindow::~OperatorWindow() {
  if (window_ == nullptr) return;
  // Wake-ups for reports nobody will take any more (their view may be gone): dropped unread.
  MSG message;
  while (PeekMessageW(&message, window_, kEngineReportMessage, kEngineReportMessage, PM_REMOVE)) {
  }
  if (trayShown_) Shell_NotifyIconW(NIM_DELETE, &tray_);
  DestroyWindow(window_);
  if (font_ != nullptr) DeleteObject(font_);
}

int OperatorWindow::Scaled(int pixels) const {
  return MulDiv(pixels, dpi_, 96);
}

bool OperatorWindow::Create() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  bigIcon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kIconId), IMAGE_ICON,
                                           GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON),
                                           LR_DEFAULTCOLOR));
  smallIcon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kIconId), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = Procedure;
  windowClass.hInstance = instance;
  windowClass.hIcon = bigIcon_;
  windowClass.hIconSm = smallIcon_;
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // the arrow
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kClassName;
  RegisterClassExW(&windowClass);

  // A main window of its own (taskbar button), resizable, with no maximise box.
  const std::wstring title = WideFromUtf8(kProductName);
  window_ = CreateWindowExW(
      WS_EX_APPWINDOW | WS_EX_CONTROLPARENT, kClassName, title.c_str(),
      WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_CLIPCHILDREN,
      CW_USEDEFAULT, CW_USEDEFAULT, Scaled(OperatorModel::kFirstSize.width),
      Scaled(OperatorModel::kFirstSize.height), nullptr, nullptr, instance, this);
  if (window_ == nullptr) return false;
  taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
  PlaceWindow();
  SetTexts(model_.Texts());
  AddTrayIcon();
  SetTimer(window_, kUptimeTimer, 1000, nullptr);
  return true;
}

void OperatorWindow::BuildControls() {
  HDC screen = GetDC(nullptr);
  dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  font_ = CreateFontIndirectW(&metrics.lfMessageFont);

  console_ = MakeControl(window_, L"EDIT", L"",
                         WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY |
                             ES_AUTOVSCROLL | ES_AUTOHSCROLL,
                         kConsoleId, font_, WS_EX_CLIENTEDGE);
  SendMessageW(console_, EM_SETLIMITTEXT, 4 * kConsoleKeep, 0);
  exitButton_ =
      MakeControl(window_, L"BUTTON", L"Exit", WS_TABSTOP | BS_PUSHBUTTON, kExitId, font_);
  refreshButton_ =
      MakeControl(window_, L"BUTTON", L"Refresh", WS_TABSTOP | BS_PUSHBUTTON, kRefreshId, font_);
  blocksButton_ = MakeControl(window_, L"BUTTON", WideFromUtf8(BlocksModel::kOpenButton).c_str(),
                              WS_TABSTOP | BS_PUSHBUTTON, kBlocksId, font_);
  filter_ = MakeControl(window_, L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, kFilterId, font_,
                        WS_EX_CLIENTEDGE);
  SendMessageW(filter_, EM_SETCUEBANNER, TRUE,
               reinterpret_cast<LPARAM>(L"Find a user by name, MAC or IP"));
  userList_.Create(window_, kListId, font_);
  commandLine_ = MakeControl(window_, L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, kCommandLineId,
                             font_, WS_EX_CLIENTEDGE);
  SendMessageW(commandLine_, EM_SETCUEBANNER, TRUE,
               reinterpret_cast<LPARAM>(L"Message to everyone"));
  // Enter sends (except in the filter box): Send is the default button.
  sendButton_ =
      MakeControl(window_, L"BUTTON", L"Send", WS_TABSTOP | BS_DEFPUSHBUTTON, kSendId, font_);
  statusBar_ = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, window_,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatusId)),
                               GetModuleHandleW(nullptr), nullptr);
  SendMessageW(statusBar_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);

  // Typing goes to the command line first; Tab then reaches Send, the filter, the list.
  HWND order[] = {commandLine_, sendButton_, filter_,        userList_.Handle(),
                  console_,     exitButton_, refreshButton_, blocksButton_};
  HWND after = HWND_TOP;
  for (HWND control : order) {
    SetWindowPos(control, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    after = control;
  }
}

int OperatorWindow::SharedHeight() const {
  // What the console pane and the list pane share: the client area less the margins, the
  // command line, the status bar and the splitter bar.
  RECT client{};
  GetClientRect(window_, &client);
  RECT status{};
  GetWindowRect(statusBar_, &status);
  return std::max<int>(client.bottom - (status.bottom - status.top) - Scaled(5 + 24 + 5 + 5 + 6),
                       0);
}

RECT OperatorWindow::SplitterBar() const {
  // The gap between the console pane and the list pane; dragging it moves the share. The
  // console pane keeps room for Exit, Refresh and Blocks... beside it, the list pane for a
  // few rows.
  RECT client{};
  GetClientRect(window_, &client);
  const int shared = SharedHeight();
  const int least = Scaled(135);
  const int consoleHeight = std::clamp(static_cast<int>(shared * splitterShare_), least,
                                       std::max(shared - Scaled(90), least));
  const int top = Scaled(5) + consoleHeight;
  return RECT{0, top, client.right, top + Scaled(6)};
}

void OperatorWindow::Layout() {
  if (window_ == nullptr || statusBar_ == nullptr) return;
  SendMessageW(statusBar_, WM_SIZE, 0, 0);
  SetStatusParts();
  RECT client{};
  GetClientRect(window_, &client);
  RECT status{};
  GetWindowRect(statusBar_, &status);
  const int width = client.right;
  const int margin = Scaled(5);
  const int rowHeight = Scaled(24);
  const int bottomRow = client.bottom - (status.bottom - status.top) - margin - rowHeight;

  // The console with Exit, Refresh and Blocks... at its right above; the filter and the
  // list below.
  const RECT bar = SplitterBar();
  const int buttonWidth = Scaled(55);
  Move(console_, margin, margin, width - 2 * margin - buttonWidth - Scaled(10), bar.top - margin);
  Move(exitButton_, width - margin - buttonWidth, margin + Scaled(25), buttonWidth, Scaled(25));
  Move(refreshButton_, width - margin - buttonWidth, margin + Scaled(65), buttonWidth, Scaled(25));
  Move(blocksButton_, width - margin - buttonWidth, margin + Scaled(105), buttonWidth, Scaled(25));
  const int filterHeight = Scaled(22);
  Move(filter_, margin, bar.bottom, width - 2 * margin, filterHeight);
  Move(userList_.Handle(), margin, bar.bottom + filterHeight + Scaled(4), width - 2 * margin,
       bottomRow - margin - (bar.bottom + filterHeight + Scaled(4)));
  // The command line and Send under both.
  const int sendWidth = Scaled(80);
  Move(commandLine_, margin, bottomRow, width - 3 * margin - sendWidth, rowHeight);
  Move(sendButton_, width - margin - sendWidth, bottomRow, sendWidth, rowHeight);
}

void OperatorWindow::SetStatusParts() {
  // Users and uptime at the right, as wide as their texts; the address takes the rest.
  HDC dc = GetDC(statusBar_);
  const HGDIOBJ old = SelectObject(dc, font_);
  auto width = [dc](const std::wstring& text) {
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return static_cast<int>(size.cx);
  };
  const int users = std::max(width(usersText_), width(L"Users online: 0000")) + Scaled(20);
  const int uptime = std::max(width(uptimeText_), width(L"Up 00:00:00")) + Scaled(20);
  SelectObject(dc, old);
  ReleaseDC(statusBar_, dc);
  RECT client{};
  GetClientRect(statusBar_, &client);
  int edges[3] = {std::max<int>(client.right - users - uptime, 0),
                  std::max<int>(client.right - uptime, 0), -1};
  SendMessageW(statusBar_, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(edges));
  SendMessageW(statusBar_, SB_SETTEXTW, 0 | SBT_OWNERDRAW, 0);
  SendMessageW(statusBar_, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(usersText_.c_str()));
  SendMessageW(statusBar_, SB_SETTEXTW, 2, reinterpret_cast<LPARAM>(uptimeText_.c_str()));
}

void OperatorWindow::DrawListeningStatus(const DRAWITEMSTRUCT& item) const {
  // A server that does not listen is the one thing here that needs the operator: in red.
  RECT box = item.rcItem;
  box.left += Scaled(4);
  SetBkMode(item.hDC, TRANSPARENT);
  SetTextColor(item.hDC, listening_ ? GetSysColor(COLOR_BTNTEXT) : RGB(0xB0, 0x00, 0x20));
  const HGDIOBJ old = SelectObject(item.hDC, font_);
  DrawTextW(item.hDC, listeningText_.c_str(), static_cast<int>(listeningText_.size()), &box,
            DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
  SelectObject(item.hDC, old);
}

void OperatorWindow::PlaceWindow() {
  // Later runs take the size, position and splitter of the last one, if that place is
  // still on a screen.
  if (!stateFile_.empty()) {
    auto value = [this](const wchar_t* key) {
      return static_cast<int>(GetPrivateProfileIntW(L"window", key, -32768, stateFile_.c_str()));
    };
    const RECT saved{value(L"left"), value(L"top"), value(L"right"), value(L"bottom")};
    if (saved.left != -32768 &&
        OperatorModel::Restorable({saved.right - saved.left, saved.bottom - saved.top}, dpi_) &&
        MonitorFromRect(&saved, MONITOR_DEFAULTTONULL) != nullptr) {
      splitterShare_ = OperatorModel::ConsolePercent(value(L"splitter")) / 100.0;
      MoveWindow(window_, saved.left, saved.top, saved.right - saved.left, saved.bottom - saved.top,
                 FALSE);
      Layout();
      return;
    }
  }
  // First run: the default size where the screen has room for it, centred.
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int workWidth = static_cast<int>(work.right - work.left);
  const int workHeight = static_cast<int>(work.bottom - work.top);
  const WindowSize size = OperatorModel::FirstSize({workWidth, workHeight}, dpi_);
  MoveWindow(window_, work.left + (workWidth - size.width) / 2,
             work.top + (workHeight - size.height) / 2, size.width, size.height, FALSE);
  Layout();
}

void OperatorWindow::SaveState() const {
  if (stateFile_.empty() || window_ == nullptr) return;
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  if (!GetWindowPlacement(window_, &placement)) return;
  const std::filesystem::path folder = std::filesystem::path(stateFile_).parent_path();
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  // The normal position, in workspace coordinates; near enough to the screen's for a
  // window on a desktop whose task bar is at the bottom.
  const RECT& box = placement.rcNormalPosition;
  auto put = [this](const wchar_t* key, int value) {
    WritePrivateProfileStringW(L"window", key, std::to_wstring(value).c_str(), stateFile_.c_str());
  };
  put(L"left", box.left);
  put(L"top", box.top);
  put(L"right", box.right);
  put(L"bottom", box.bottom);
  put(L"splitter", static_cast<int>(splitterShare_ * 100 + 0.5));
}

void OperatorWindow::Show() {
  ShowWindow(window_, SW_SHOW);
  UpdateWindow(window_);
  SetFocus(commandLine_);
}

int OperatorWindow::Run() {
  MSG message;
  int result = 0;
  while ((result = GetMessageW(&message, nullptr, 0, 0)) > 0) {
    // Tab between controls, Enter for the default button, Escape as IDCANCEL.
    if (blocks_.Handle() != nullptr && IsDialogMessageW(blocks_.Handle(), &message)) continue;
    if (IsDialogMessageW(window_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return result < 0 ? 1 : static_cast<int>(message.wParam);
}

void OperatorWindow::AddTrayIcon() {
  tray_.cbSize = sizeof tray_;
  tray_.hWnd = window_;
  tray_.uID = kIconId;
  tray_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  tray_.uCallbackMessage = kTrayMessage;
  tray_.hIcon = smallIcon_;
  if (tray_.szTip[0] == L'\0') lstrcpynW(tray_.szTip, WideFromUtf8(kProductName).c_str(), 128);
  trayShown_ = Shell_NotifyIconW(NIM_ADD, &tray_) != FALSE;
}

void OperatorWindow::AppendConsoleLine(const std::string& line) {
  const std::wstring text = WideFromUtf8(OperatorModel::ConsoleText(line));
  if (consoleLength_ + pendingConsole_.size() > 0) pendingConsole_ += L"\r\n";
  pendingConsole_ += text;
}

void OperatorWindow::FlushConsole() {
  // The lines of a batch of reports go into the control at once: one edit and one scroll
  // for a login storm's hundreds of lines instead of one each.
  if (pendingConsole_.empty()) return;
  if (consoleLength_ + pendingConsole_.size() > 2 * kConsoleKeep) {
    // Drop the oldest lines, keeping about half of what the console may hold.
    const std::wstring all = WindowText(console_) + pendingConsole_;
    std::size_t cut = all.size() > kConsoleKeep ? all.find(L"\r\n", all.size() - kConsoleKeep) : 0;
    cut = cut == std::wstring::npos ? 0 : cut + 2;
    SetWindowTextW(console_, all.c_str() + cut);
    consoleLength_ = all.size() - cut;
  } else {
    const int end = GetWindowTextLengthW(console_);
    SendMessageW(console_, EM_SETSEL, end, end);
    SendMessageW(console_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(pendingConsole_.c_str()));
    consoleLength_ += pendingConsole_.size();
  }
  const int end = GetWindowTextLengthW(console_);
  SendMessageW(console_, EM_SETSEL, end, end);
  SendMessageW(console_, EM_SCROLLCARET, 0, 0);
  pendingConsole_.clear();
}

void OperatorWindow::ClearConsole() {
  SetWindowTextW(console_, L"");
  consoleLength_ = 0;
  pendingConsole_.clear();
}

void OperatorWindow::ReplaceUserRows(std::vector<UserRow> rows) {
  model_.SetRows(std::move(rows));
  userList_.Show(model_);
}

void OperatorWindow::SetTooltip(const std::string& text) {
  const std::wstring tip = WideFromUtf8(OperatorModel::TooltipText(text));
  lstrcpynW(tray_.szTip, tip.c_str(), 128);
  if (!trayShown_) return;
  tray_.uFlags = NIF_TIP;
  Shell_NotifyIconW(NIM_MODIFY, &tray_);
  tray_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
}

void OperatorWindow::SetTitle(const std::string& title) {
  SetWindowTextW(window_, WideFromCodePage(title).c_str());
}

void OperatorWindow::SetTexts(ViewTexts texts) {
  model_.SetTexts(std::move(texts));
  // The least widths follow the window's width at the time the columns get their titles.
  RECT client{};
  GetClientRect(window_, &client);
  userList_.SetHeaders(model_, client.right);
  userList_.Show(model_);
}

void OperatorWindow::ShowRefusal(const std::string& reason) {
  FlushConsole();  // what led to the refusal shows behind its box
  MessageBoxW(window_, WideFromUtf8(reason).c_str(), WideFromUtf8(kProductName).c_str(),
              MB_OK | MB_ICONINFORMATION);
}

void OperatorWindow::SetStatus(const ServerStatus& status) {
  model_.SetStatus(status);
  listening_ = status.listening;
  listeningText_ = WideFromUtf8(ListeningText(status));
  usersText_ = WideFromUtf8(UsersOnlineText(status.users));
  startedAtMs_ = status.startedAtMs;
  ShowUptime();
  SetStatusParts();
}

void OperatorWindow::ShowUptime() {
  if (startedAtMs_ < 0) return;
  uptimeText_ = WideFromUtf8(UptimeText(SteadyClockMs() - startedAtMs_));
  SendMessageW(statusBar_, SB_SETTEXTW, 2, reinterpret_cast<LPARAM>(uptimeText_.c_str()));
}

void OperatorWindow::SendCommandLine() {
  const std::wstring text = WindowText(commandLine_);
  if (text.empty()) return;
  // The engine echoes what went out on the console (and in the log), in this window too.
  if (std::optional<OperatorCommand> send = OperatorModel::SendCommand(Utf8FromWide(text))) {
    engine_.Execute(std::move(*send));
  }
  SetWindowTextW(commandLine_, L"");
}

void OperatorWindow::Execute(OperatorCommand command,
                             std::function<void(OperatorWindow&, const Outcome&)> show) {
  engine_.Execute(std::move(command), [post = post_, show = std::move(show)](Outcome outcome) {
    if (!post) return;
    post([show, outcome = std::move(outcome)](OperatorWindow& w) { show(w, outcome); });
  });
}

void OperatorWindow::ExecuteForBlocks(const OperatorCommand& command) {
  const bool list = std::holds_alternative<command::Blocks>(command);
  Execute(command, [list](OperatorWindow& w, const Outcome& outcome) {
    if (list) {
      w.blocks_.ShowBlocks(outcome.blocks);
    } else if (!outcome.done) {
      w.blocks_.ShowRefusal(OperatorModel::RefusalText(outcome));
    }
  });
}

void OperatorWindow::ShowUserMenu(LPARAM point) {
  const auto target = userList_.TargetOf(point, model_);
  if (!target) return;
  const std::optional<UserMenuModel> model = model_.MenuFor(target->engineRow);
  if (!model) return;

  // Item ids are positions in this list, from 1.
  std::vector<const UserMenuItem*> chosen;
  auto fill = [&chosen](HMENU menu, const std::vector<UserMenuItem>& items) {
    for (const UserMenuItem& item : items) {
      if (item.separator) {
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        continue;
      }
      chosen.push_back(&item);
      const UINT flags = MF_STRING | (item.checked ? MF_CHECKED : MF_UNCHECKED);
      AppendMenuW(menu, flags, chosen.size(), EscapeMnemonics(WideFromCodePage(item.text)).c_str());
    }
  };
  HMENU menu = CreatePopupMenu();
  HMENU afs = CreatePopupMenu();
  fill(afs, model->afsItems);
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(afs),
              EscapeMnemonics(WideFromCodePage(model->afsTitle)).c_str());
  fill(menu, model->items);
  const int id = static_cast<int>(
      TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, target->screenPoint.x,
                     target->screenPoint.y, 0, window_, nullptr));
  DestroyMenu(menu);  // and the submenu with it
  if (id <= 0 || id > static_cast<int>(chosen.size())) return;
  const UserMenuItem& item = *chosen[static_cast<std::size_t>(id - 1)];
  // The command names the user by MAC; the engine refuses it when the user has left by the
  // time it arrives, and the window says why.
  Execute(item.command, [](OperatorWindow& w, const Outcome& outcome) {
    if (!outcome.done) w.ShowRefusal(OperatorModel::RefusalText(outcome));
  });
}

void OperatorWindow::ShowFromTray() {
  // A hidden window comes back as it was: a minimised one stays minimised.
  ShowWindow(window_, SW_SHOW);
  SetForegroundWindow(window_);
}

void OperatorWindow::ShowTrayMenu() {
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, kTrayShow, L"Show");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kTrayExit, L"Exit");
  POINT cursor{};
  GetCursorPos(&cursor);
  // The menu closes when the operator clicks elsewhere only if the window is in front.
  SetForegroundWindow(window_);
  const int id =
      static_cast<int>(TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY,
                                      cursor.x, cursor.y, 0, window_, nullptr));
  PostMessageW(window_, WM_NULL, 0, 0);
  DestroyMenu(menu);
  if (id == kTrayShow) {
    // Unlike a click on the icon, Show also brings a minimised window back.
    ShowWindow(window_, IsIconic(window_) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(window_);
  } else if (id == kTrayExit) {
    ConfirmExit();
  }
}

void OperatorWindow::ConfirmExit() {
  // The question is a modal box: while it is open, a second Exit (the tray's) waits for it.
  const ExitStep step = model_.Exit();
  if (step == ExitStep::kStoppedAlready || step == ExitStep::kQuestionOpen) return;
  if (step == ExitStep::kStop) {
    RequestExit();
    return;
  }
  if (!IsWindowVisible(window_) || IsIconic(window_)) {
    ShowWindow(window_, IsIconic(window_) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(window_);
  }
  model_.ExitAsked();
  const int answer =
      MessageBoxW(window_, WideFromUtf8(model_.ExitQuestion()).c_str(),
                  WideFromUtf8(kProductName).c_str(), MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION);
  if (model_.ExitAnswered(answer == IDYES)) RequestExit();
}

void OperatorWindow::RequestExit() {
  const bool asking = model_.Exit() == ExitStep::kQuestionOpen;
  if (!model_.BeginStop()) return;
  if (asking) {
    // A stop signal while the question is open: the question goes, its answer with it.
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND candidate, LPARAM owner) -> BOOL {
          wchar_t kind[16] = L"";
          GetClassNameW(candidate, kind, 16);
          if (GetWindow(candidate, GW_OWNER) == reinterpret_cast<HWND>(owner) &&
              lstrcmpW(kind, L"#32770") == 0)
            EndDialog(candidate, IDNO);
          return TRUE;
        },
        reinterpret_cast<LPARAM>(window_));
  }
  SaveState();
  ShowWindow(window_, SW_HIDE);
  if (blocks_.Handle() != nullptr) ShowWindow(blocks_.Handle(), SW_HIDE);
  engine_.Shutdown();
  if (trayShown_) Shell_NotifyIconW(NIM_DELETE, &tray_);
  trayShown_ = false;
  PostQuitMessage(0);
}

LRESULT CALLBACK OperatorWindow::Procedure(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self =
        static_cast<OperatorWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<OperatorWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  return self->Handle(message, wParam, lParam);
}

LRESULT OperatorWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == taskbarCreated_ && taskbarCreated_ != 0) {
    // The shell started again: the icon comes back with the last tooltip.
    if (!model_.Stopping()) AddTrayIcon();
    return 0;
  }
  switch (message) {
    case WM_CREATE:
      BuildControls();
      return 0;
    case WM_SIZE:
      Layout();
      return 0;
    case WM_ACTIVATE:
      // As a dialog does: the control that had the focus gets it back (at first the
      // command line), so typing after a click on the title bar or Alt+Tab goes there.
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(window_, focus)) lastFocus_ = focus;
      } else {
        SetFocus(lastFocus_ != nullptr && IsWindow(lastFocus_) ? lastFocus_ : commandLine_);
      }
      return 0;
    case WM_GETMINMAXINFO: {
      auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
      const WindowSize least = OperatorModel::LeastSize(dpi_);
      limits->ptMinTrackSize = {least.width, least.height};
      return 0;
    }
    case WM_SETCURSOR: {
      POINT cursor{};
      GetCursorPos(&cursor);
      ScreenToClient(window_, &cursor);
      const RECT bar = SplitterBar();
      if (reinterpret_cast<HWND>(wParam) == window_ && PtInRect(&bar, cursor)) {
        SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32645)));  // up-down arrows
        return TRUE;
      }
      break;
    }
    case WM_LBUTTONDOWN: {
      const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      const RECT bar = SplitterBar();
      if (PtInRect(&bar, at)) {
        draggingSplitter_ = true;
        SetCapture(window_);
      }
      return 0;
    }
    case WM_MOUSEMOVE:
      if (draggingSplitter_) {
        const int y = static_cast<short>(HIWORD(lParam));
        const int shared = SharedHeight();
        if (shared > 0) splitterShare_ = std::clamp((y - Scaled(5)) / double(shared), 0.0, 1.0);
        Layout();
      }
      return 0;
    case WM_LBUTTONUP:
      if (draggingSplitter_) {
        draggingSplitter_ = false;
        ReleaseCapture();
      }
      return 0;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
        case kSendId:
          // Enter in the filter box only filters: it must not send the command line.
          if (LOWORD(wParam) == IDOK && !OperatorModel::EnterSends(GetFocus() == filter_)) {
            return 0;
          }
          SendCommandLine();
          return 0;
        case IDCANCEL:
          // Escape stops nothing: it clears the line being typed.
          SetWindowTextW(
              OperatorModel::Escape(GetFocus() == filter_) == OperatorModel::EscapeClears::kFilter
                  ? filter_
                  : commandLine_,
              L"");
          return 0;
        case kRefreshId:
          engine_.Execute(command::Refresh{});
          return 0;
        case kBlocksId:
          blocks_.Open(window_, font_, dpi_);
          return 0;
        case kExitId:
          ConfirmExit();
          return 0;
        case kFilterId:
          if (HIWORD(wParam) == EN_CHANGE) {
            model_.SetFilter(Utf8FromWide(WindowText(filter_)));
            userList_.Show(model_);
          }
          return 0;
        default:
          break;
      }
      break;
    case DM_GETDEFID:
      return MAKELRESULT(kSendId, DC_HASDEFID);
    case WM_NOTIFY: {
      LRESULT result = 0;
      if (userList_.OnNotify(*reinterpret_cast<const NMHDR*>(lParam), model_, &result)) {
        return result;
      }
      break;
    }
    case WM_CONTEXTMENU:
      if (reinterpret_cast<HWND>(wParam) == userList_.Handle()) {
        ShowUserMenu(lParam);
        return 0;
      }
      break;
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item->hwndItem == statusBar_) {
        DrawListeningStatus(*item);
        return TRUE;
      }
      break;
    }
    case WM_TIMER:
      if (wParam == kUptimeTimer) ShowUptime();
      return 0;
    case kTrayMessage:
      // A left click brings the window back, a right click too and opens the icon's menu.
      if (LOWORD(lParam) == WM_LBUTTONUP) {
        ShowFromTray();
      } else if (LOWORD(lParam) == WM_RBUTTONUP) {
        ShowWindow(window_, SW_SHOW);
        ShowTrayMenu();
      }
      return 0;
    case kEngineReportMessage: {
      auto* view = reinterpret_cast<Win32OperatorView*>(lParam);
      if (view == nullptr) return 0;
      while (std::optional<EngineReport> report = view->TakeReport()) {
        if (!model_.Stopping()) (*report)(*this);
      }
      FlushConsole();
      return 0;
    }
    case kStopMessage:
      RequestExit();
      return 0;
    case WM_CLOSE: {
      // The close box never stops the server (OperatorModel::CloseBox).
      const CloseStep step = model_.CloseBox(trayShown_);
      if (step != CloseStep::kNothing) {
        SaveState();
        ShowWindow(window_, step == CloseStep::kHide ? SW_HIDE : SW_MINIMIZE);
      }
      return 0;
    }
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      // The end of the session stops the server in order, without asking.
      if (wParam != FALSE) RequestExit();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

}  // namespace orv
