#include "win32/user_list_view.h"

#include <commctrl.h>

#include <algorithm>
#include <string>

#include "win32/wide_text.h"

namespace orv {

void UserListView::Create(HWND parent, int id, HFONT font) {
  font_ = font;
  list_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                          WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL |
                              LVS_SHOWSELALWAYS | LVS_OWNERDATA,
                          0, 0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                          GetModuleHandleW(nullptr), nullptr);
  SendMessageW(list_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  for (int c = 0; c < kUserColumnCount; ++c) {
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    column.fmt = LVCFMT_LEFT;
    column.cx = leastWidths_[static_cast<std::size_t>(c)];
    column.pszText = const_cast<wchar_t*>(L"");
    ListView_InsertColumn(list_, c, &column);
  }
}

void UserListView::SetHeaders(const OperatorModel& model, int windowWidth) {
  const std::array<std::string, kUserColumnCount> titles = model.ColumnTitles();
  for (int c = 0; c < kUserColumnCount; ++c) {
    const std::wstring title = WideFromUtf8(titles[static_cast<std::size_t>(c)]);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT;
    column.pszText = const_cast<wchar_t*>(title.c_str());
    ListView_SetColumn(list_, c, &column);
  }
  leastWidths_ = OperatorModel::LeastColumnWidths(windowWidth);
  ShowSortArrow(model);
  FitColumns(model);
}

void UserListView::Show(const OperatorModel& model) {
  showing_ = true;
  const int count = static_cast<int>(model.ShownCount());
  const int top = ListView_GetTopIndex(list_);
  ListView_SetItemCountEx(list_, count, LVSICF_NOSCROLL);
  ListView_SetItemState(list_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
  const int selected = model.SelectedShown();
  if (selected >= 0) {
    ListView_SetItemState(list_, selected, LVIS_SELECTED | LVIS_FOCUSED,
                          LVIS_SELECTED | LVIS_FOCUSED);
  }
  if (top > 0 && top < count) {
    ListView_EnsureVisible(list_, count - 1, FALSE);
    ListView_EnsureVisible(list_, top, FALSE);
  }
  ShowSortArrow(model);
  // Widths fit every user, not only those the filter lets through, so they do not jump
  // while the operator types.
  FitColumns(model);
  InvalidateRect(list_, nullptr, FALSE);
  showing_ = false;
}

void UserListView::FitColumns(const OperatorModel& model) {
  // Cells and titles are never cut: a column is as wide as its widest cell or title needs
  // and never narrower than its least width; the last one takes what is left.
  HDC dc = GetDC(list_);
  const HGDIOBJ old = SelectObject(dc, font_);
  auto width = [dc](const std::wstring& text) {
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return static_cast<int>(size.cx);
  };
  const int cellPadding = 14;
  const int titlePadding = 24;  // room for the sort arrow
  for (int c = 0; c + 1 < kUserColumnCount; ++c) {
    wchar_t title[128] = L"";
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT;
    column.pszText = title;
    column.cchTextMax = 128;
    ListView_GetColumn(list_, c, &column);
    int needs = std::max(leastWidths_[static_cast<std::size_t>(c)], width(title) + titlePadding);
    for (const ListedUser& user : model.Users()) {
      needs = std::max(needs,
                       width(WideFromUtf8(user.cells[static_cast<std::size_t>(c)])) + cellPadding);
    }
    ListView_SetColumnWidth(list_, c, needs);
  }
  SelectObject(dc, old);
  ReleaseDC(list_, dc);
  ListView_SetColumnWidth(list_, kUserColumnCount - 1, LVSCW_AUTOSIZE_USEHEADER);
}

void UserListView::ShowSortArrow(const OperatorModel& model) {
  HWND header = ListView_GetHeader(list_);
  for (int c = 0; c < kUserColumnCount; ++c) {
    HDITEMW item{};
    item.mask = HDI_FORMAT;
    Header_GetItem(header, c, &item);
    item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
    if (c == model.SortColumn())
      item.fmt |= model.Order() == SortOrder::kDescending ? HDF_SORTDOWN : HDF_SORTUP;
    Header_SetItem(header, c, &item);
  }
}

bool UserListView::OnNotify(const NMHDR& header, OperatorModel& model, LRESULT* result) {
  if (header.hwndFrom != list_) return false;
  switch (header.code) {
    case LVN_GETDISPINFOW: {
      auto& info = const_cast<NMLVDISPINFOW&>(reinterpret_cast<const NMLVDISPINFOW&>(header));
      const int shown = info.item.iItem;
      if ((info.item.mask & LVIF_TEXT) == 0 || shown < 0 ||
          shown >= static_cast<int>(model.ShownCount()) || info.item.iSubItem < 0 ||
          info.item.iSubItem >= kUserColumnCount)
        return true;
      const std::wstring text =
          WideFromUtf8(model.Shown(static_cast<std::size_t>(shown))
                           .cells[static_cast<std::size_t>(info.item.iSubItem)]);
      lstrcpynW(info.item.pszText, text.c_str(), info.item.cchTextMax);
      *result = 0;
      return true;
    }
    case LVN_COLUMNCLICK:
      model.ClickColumn(reinterpret_cast<const NMLISTVIEW&>(header).iSubItem);
      Show(model);
      *result = 0;
      return true;
    case LVN_ITEMCHANGED:
      // The operator chose a user (or nobody): the model keeps the choice by MAC.
      if (!showing_) model.SelectShown(ListView_GetNextItem(list_, -1, LVNI_SELECTED));
      *result = 0;
      return true;
    case NM_CUSTOMDRAW: {
      // An AFS value that is not the user's own (the FloodStopper default) shows grey.
      auto& draw = const_cast<NMLVCUSTOMDRAW&>(reinterpret_cast<const NMLVCUSTOMDRAW&>(header));
      const DWORD stage = draw.nmcd.dwDrawStage;
      if (stage == CDDS_PREPAINT) {
        *result = CDRF_NOTIFYITEMDRAW;
      } else if (stage == CDDS_ITEMPREPAINT) {
        *result = CDRF_NOTIFYSUBITEMDRAW;
      } else if (stage == (CDDS_ITEMPREPAINT | CDDS_SUBITEM)) {
        const auto shown = static_cast<std::size_t>(draw.nmcd.dwItemSpec);
        const bool grey =
            draw.iSubItem == kAfsColumn && shown < model.ShownCount() && !model.Shown(shown).ownAfs;
        draw.clrText = GetSysColor(grey ? COLOR_GRAYTEXT : COLOR_WINDOWTEXT);
        *result = CDRF_NEWFONT;
      } else {
        *result = CDRF_DODEFAULT;
      }
      return true;
    }
    default:
      return false;
  }
}

std::optional<UserListView::MenuTarget> UserListView::TargetOf(LPARAM contextMenuPoint,
                                                               const OperatorModel& model) {
  POINT point{static_cast<short>(LOWORD(contextMenuPoint)),
              static_cast<short>(HIWORD(contextMenuPoint))};
  int shown = -1;
  if (point.x == -1 && point.y == -1) {
    // The menu key: the selected user, under its row.
    shown = ListView_GetNextItem(list_, -1, LVNI_SELECTED);
    if (shown < 0) return std::nullopt;
    ListView_EnsureVisible(list_, shown, FALSE);
    RECT box{};
    ListView_GetItemRect(list_, shown, &box, LVIR_BOUNDS);
    point = {box.left + (box.bottom - box.top), box.bottom};
    ClientToScreen(list_, &point);
  } else {
    LVHITTESTINFO hit{};
    hit.pt = point;
    ScreenToClient(list_, &hit.pt);
    shown = ListView_HitTest(list_, &hit);
    if (shown < 0) return std::nullopt;
    ListView_SetItemState(list_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_SetItemState(list_, shown, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  }
  if (shown >= static_cast<int>(model.ShownCount())) return std::nullopt;
  return MenuTarget{model.Shown(static_cast<std::size_t>(shown)).engineRow, point};
}

}  // namespace orv
