#include "win32/blocks_window.h"

#include <commctrl.h>

#include <algorithm>

#include "win32/wide_text.h"

namespace orv {

namespace {

constexpr wchar_t kClassName[] = L"OrvChatBlocksWindow";

enum ControlId : int { kListId = 2000, kUnblockId = 2001, kEmptyId = 2002 };

HWND MakeControl(HWND parent, const wchar_t* kind, const std::wstring& text, DWORD style, int id,
                 HFONT font, DWORD exStyle = 0) {
  HWND control = CreateWindowExW(exStyle, kind, text.c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0,
                                 0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 GetModuleHandleW(nullptr), nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return control;
}

void Move(HWND control, int x, int y, int width, int height) {
  SetWindowPos(control, nullptr, x, y, std::max(width, 0), std::max(height, 0),
               SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

BlocksWindow::~BlocksWindow() {
  if (window_ != nullptr) DestroyWindow(window_);
}

bool BlocksWindow::Create(HWND owner) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = Procedure;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // the arrow
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kClassName;
  RegisterClassExW(&windowClass);

  // Owned by the operator window: above it, no taskbar button of its own, centred over it.
  RECT over{};
  GetWindowRect(owner, &over);
  const int width = Scaled(520);
  const int height = Scaled(280);
  window_ = CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kClassName,
                            WideFromUtf8(BlocksModel::kTitle).c_str(),
                            WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_CLIPCHILDREN,
                            over.left + (over.right - over.left - width) / 2,
                            over.top + (over.bottom - over.top - height) / 2, width, height, owner,
                            nullptr, instance, this);
  return window_ != nullptr;
}

void BlocksWindow::Open(HWND owner, HFONT font, int dpi) {
  if (window_ == nullptr) {
    font_ = font;
    dpi_ = dpi;
    if (!Create(owner)) return;
  }
  ShowWindow(window_, SW_SHOW);
  SetForegroundWindow(window_);
  SetFocus(list_);
  execute_(BlocksModel::ListCommand());
}

void BlocksWindow::Layout() {
  RECT client{};
  GetClientRect(window_, &client);
  const int margin = Scaled(8);
  const int buttonWidth = Scaled(80);
  const int buttonHeight = Scaled(25);
  const int buttons = client.bottom - margin - buttonHeight;
  Move(list_, margin, margin, client.right - 2 * margin, buttons - 2 * margin);
  Move(close_, client.right - margin - buttonWidth, buttons, buttonWidth, buttonHeight);
  Move(unblock_, client.right - 2 * margin - 2 * buttonWidth, buttons, buttonWidth, buttonHeight);
  Move(empty_, margin, buttons + Scaled(5), client.right - 4 * margin - 2 * buttonWidth,
       buttonHeight - Scaled(5));
}

void BlocksWindow::ShowBlocks(const std::vector<StoredBlock>& blocks) {
  if (window_ == nullptr) return;
  model_.SetBlocks(blocks);
  showing_ = true;
  SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
  ListView_DeleteAllItems(list_);
  int n = 0;
  for (const BlockListRow& row : model_.Rows()) {
    std::wstring cell = WideFromUtf8(row.cells[0]);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = n;
    item.pszText = cell.data();
    ListView_InsertItem(list_, &item);
    for (int c = 1; c < kBlockColumnCount; ++c) {
      cell = WideFromUtf8(row.cells[static_cast<std::size_t>(c)]);
      ListView_SetItemText(list_, n, c, cell.data());
    }
    ++n;
  }
  // As wide as the widest cell or the title needs, whichever is wider; the last column
  // takes the rest.
  HDC dc = GetDC(list_);
  const HGDIOBJ old = SelectObject(dc, font_);
  auto width = [dc](const std::wstring& text) {
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return static_cast<int>(size.cx);
  };
  const auto titles = BlocksModel::ColumnTitles();
  for (int c = 0; c + 1 < kBlockColumnCount; ++c) {
    const auto column = static_cast<std::size_t>(c);
    int needs = width(WideFromUtf8(titles[column])) + Scaled(16);
    for (const BlockListRow& row : model_.Rows())
      needs = std::max(needs, width(WideFromUtf8(row.cells[column])) + Scaled(14));
    ListView_SetColumnWidth(list_, c, needs);
  }
  SelectObject(dc, old);
  ReleaseDC(list_, dc);
  ListView_SetColumnWidth(list_, kBlockColumnCount - 1, LVSCW_AUTOSIZE_USEHEADER);
  if (model_.Selected() >= 0) {
    ListView_SetItemState(list_, model_.Selected(), LVIS_SELECTED | LVIS_FOCUSED,
                          LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(list_, model_.Selected(), FALSE);
  }
  SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list_, nullptr, TRUE);
  showing_ = false;
  ShowWindow(empty_, model_.Rows().empty() ? SW_SHOW : SW_HIDE);
  EnableWindow(unblock_, model_.CanUnblock());
}

void BlocksWindow::ShowRefusal(const std::string& utf8Reason) {
  if (window_ == nullptr) return;
  MessageBoxW(window_, WideFromUtf8(utf8Reason).c_str(), WideFromUtf8(BlocksModel::kTitle).c_str(),
              MB_OK | MB_ICONINFORMATION);
}

LRESULT CALLBACK BlocksWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self =
        static_cast<BlocksWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<BlocksWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  return self->Handle(message, wParam, lParam);
}

LRESULT BlocksWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: {
      list_ = MakeControl(window_, WC_LISTVIEWW, L"",
                          WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, kListId,
                          font_, WS_EX_CLIENTEDGE);
      ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
      const auto titles = BlocksModel::ColumnTitles();
      for (int c = 0; c < kBlockColumnCount; ++c) {
        std::wstring title = WideFromUtf8(titles[static_cast<std::size_t>(c)]);
        LVCOLUMNW column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        column.fmt = LVCFMT_LEFT;
        column.cx = Scaled(120);
        column.pszText = title.data();
        ListView_InsertColumn(list_, c, &column);
      }
      empty_ = MakeControl(window_, L"STATIC", WideFromUtf8(BlocksModel::kEmptyText), SS_LEFT,
                           kEmptyId, font_);
      ShowWindow(empty_, SW_HIDE);  // until the engine has answered
      unblock_ = MakeControl(window_, L"BUTTON", WideFromUtf8(BlocksModel::kUnblockButton),
                             WS_TABSTOP | BS_PUSHBUTTON, kUnblockId, font_);
      EnableWindow(unblock_, FALSE);
      // Enter and Escape close, as Close does.
      close_ = MakeControl(window_, L"BUTTON", WideFromUtf8(BlocksModel::kCloseButton),
                           WS_TABSTOP | BS_DEFPUSHBUTTON, IDCANCEL, font_);
      Layout();
      return 0;
    }
    case WM_SIZE:
      Layout();
      return 0;
    case WM_GETMINMAXINFO: {
      auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
      limits->ptMinTrackSize = {Scaled(320), Scaled(180)};
      return 0;
    }
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE && list_ != nullptr) SetFocus(list_);
      return 0;
    case DM_GETDEFID:
      return MAKELRESULT(IDCANCEL, DC_HASDEFID);
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case kUnblockId:
          for (const OperatorCommand& command : model_.UnblockCommands())
            execute_(command);
          return 0;
        case IDOK:
        case IDCANCEL:
          ShowWindow(window_, SW_HIDE);
          return 0;
        default:
          break;
      }
      break;
    case WM_NOTIFY: {
      const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
      if (header.hwndFrom == list_ && header.code == LVN_ITEMCHANGED && !showing_) {
        model_.Select(ListView_GetNextItem(list_, -1, LVNI_SELECTED));
        EnableWindow(unblock_, model_.CanUnblock());
        return 0;
      }
      break;
    }
    case WM_NCDESTROY:
      // With the operator window that owns it.
      window_ = list_ = empty_ = unblock_ = close_ = nullptr;
      return 0;
    case WM_CLOSE:
      // Closing only hides: the next Blocks... shows it again, with a fresh list.
      ShowWindow(window_, SW_HIDE);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

}  // namespace orv
