#include "win32/user_list_view.h"

#include <commctrl.h>

#include <algorithm>

#include "app/window_texts.h"
#include "console/escape.h"
#include "win32/wide_text.h"

namespace orv {

namespace {

std::wstring Lowered(std::wstring text) {
  if (!text.empty()) CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

// Client-written texts: control characters show as escapes.
std::wstring Cell(const std::string& text) {
  return WideFromCodePage(EscapeControlCharacters(text));
}

int CompareIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) -
         CSTR_EQUAL;
}

}  // namespace

void UserListView::Create(HWND parent, int id, HFONT font) {
  font_ = font;
  list_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                          WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL |
                              LVS_SHOWSELALWAYS | LVS_OWNERDATA,
                          0, 0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                          GetModuleHandleW(nullptr), nullptr);
  SendMessageW(list_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  for (int c = 0; c < kColumnCount; ++c) {
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    column.fmt = LVCFMT_LEFT;
    column.cx = leastWidths_[static_cast<std::size_t>(c)];
    column.pszText = const_cast<wchar_t*>(L"");
    ListView_InsertColumn(list_, c, &column);
  }
}

void UserListView::SetHeaders(const ViewTexts& texts, int nameWidth) {
  const std::array<std::wstring, kColumnCount> titles = {
      L"MAC",
      WideFromCodePage(texts.String(StringId::kNameColumn)),
      L"IP",
      WideFromCodePage(texts.String(StringId::kAddressColumn)),
      WideFromCodePage(texts.String(StringId::kBlockColumn)),
      L"AFS"};
  for (int c = 0; c < kColumnCount; ++c) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT;
    column.pszText = const_cast<wchar_t*>(titles[static_cast<std::size_t>(c)].c_str());
    ListView_SetColumn(list_, c, &column);
  }
  leastWidths_[kName] = nameWidth;
  ShowSortArrow();
  FitColumns();
}

void UserListView::ShowRows(std::vector<UserRow> rows, int floodStopper) {
  const std::string keep = SelectedMac();
  rows_ = std::move(rows);
  items_.clear();
  items_.reserve(rows_.size());
  for (const UserRow& row : rows_) {
    Item item;
    item.cells = {Cell(row.mac),        Cell(row.name),
                  Cell(row.reportedIp), Cell(row.peerAddress),
                  Cell(row.blockText),  WideFromUtf8(AfsCellText(row, floodStopper))};
    for (std::size_t c = 0; c < item.cells.size(); ++c)
      item.lowered[c] = Lowered(item.cells[c]);
    item.addressKeys = {AddressSortKey(EscapeControlCharacters(row.reportedIp)),
                        AddressSortKey(EscapeControlCharacters(row.peerAddress)),
                        {}};
    item.ownAfs = row.afs >= 0;
    item.afsInForce = item.ownAfs ? row.afs : floodStopper;
    items_.push_back(std::move(item));
  }
  Rebuild(keep);
  // Widths fit every user, not only those the filter lets through, so they do not jump
  // while the operator types.
  FitColumns();
}

void UserListView::SetFilter(const std::wstring& text) {
  const std::size_t first = text.find_first_not_of(L" \t");
  const std::size_t last = text.find_last_not_of(L" \t");
  filter_ =
      first == std::wstring::npos ? std::wstring() : Lowered(text.substr(first, last - first + 1));
  Rebuild(SelectedMac());
}

bool UserListView::Less(int a, int b) const {
  if (sortColumn_ < 0) return a < b;
  const Item& x = items_[static_cast<std::size_t>(a)];
  const Item& y = items_[static_cast<std::size_t>(b)];
  int order = 0;
  switch (sortColumn_) {
    case kIp:
      order = x.addressKeys[0].compare(y.addressKeys[0]);
      break;
    case kPeer:
      order = x.addressKeys[1].compare(y.addressKeys[1]);
      break;
    case kAfs:
      order = (x.afsInForce > y.afsInForce) - (x.afsInForce < y.afsInForce);
      break;
    default:
      order = CompareIgnoringCase(x.cells[static_cast<std::size_t>(sortColumn_)],
                                  y.cells[static_cast<std::size_t>(sortColumn_)]);
      break;
  }
  if (descending_) order = -order;
  // Equal keys keep the engine's order.
  return order != 0 ? order < 0 : a < b;
}

void UserListView::Rebuild(const std::string& keepMac) {
  shown_.clear();
  for (int n = 0; n < static_cast<int>(items_.size()); ++n) {
    const Item& item = items_[static_cast<std::size_t>(n)];
    bool match = filter_.empty();
    for (int c : {kMac, kName, kIp, kPeer}) {
      if (match) break;
      match = item.lowered[static_cast<std::size_t>(c)].find(filter_) != std::wstring::npos;
    }
    if (match) shown_.push_back(n);
  }
  std::stable_sort(shown_.begin(), shown_.end(), [this](int a, int b) { return Less(a, b); });

  const int top = ListView_GetTopIndex(list_);
  ListView_SetItemCountEx(list_, static_cast<int>(shown_.size()), LVSICF_NOSCROLL);
  ListView_SetItemState(list_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
  if (!keepMac.empty()) {
    for (std::size_t i = 0; i < shown_.size(); ++i) {
      if (rows_[static_cast<std::size_t>(shown_[i])].mac != keepMac) continue;
      ListView_SetItemState(list_, static_cast<int>(i), LVIS_SELECTED | LVIS_FOCUSED,
                            LVIS_SELECTED | LVIS_FOCUSED);
      break;
    }
  }
  if (top > 0 && top < static_cast<int>(shown_.size())) {
    ListView_EnsureVisible(list_, static_cast<int>(shown_.size()) - 1, FALSE);
    ListView_EnsureVisible(list_, top, FALSE);
  }
  InvalidateRect(list_, nullptr, FALSE);
}

std::string UserListView::SelectedMac() const {
  if (list_ == nullptr) return {};
  const int selected = ListView_GetNextItem(list_, -1, LVNI_SELECTED);
  if (selected < 0 || selected >= static_cast<int>(shown_.size())) return {};
  return rows_[static_cast<std::size_t>(shown_[static_cast<std::size_t>(selected)])].mac;
}

void UserListView::FitColumns() {
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
  for (int c = 0; c + 1 < kColumnCount; ++c) {
    wchar_t title[128] = L"";
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT;
    column.pszText = title;
    column.cchTextMax = 128;
    ListView_GetColumn(list_, c, &column);
    int needs = std::max(leastWidths_[static_cast<std::size_t>(c)], width(title) + titlePadding);
    for (const Item& item : items_)
      needs = std::max(needs, width(item.cells[static_cast<std::size_t>(c)]) + cellPadding);
    ListView_SetColumnWidth(list_, c, needs);
  }
  SelectObject(dc, old);
  ReleaseDC(list_, dc);
  ListView_SetColumnWidth(list_, kColumnCount - 1, LVSCW_AUTOSIZE_USEHEADER);
}

void UserListView::ShowSortArrow() {
  HWND header = ListView_GetHeader(list_);
  for (int c = 0; c < kColumnCount; ++c) {
    HDITEMW item{};
    item.mask = HDI_FORMAT;
    Header_GetItem(header, c, &item);
    item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
    if (c == sortColumn_) item.fmt |= descending_ ? HDF_SORTDOWN : HDF_SORTUP;
    Header_SetItem(header, c, &item);
  }
}

bool UserListView::OnNotify(const NMHDR& header, LRESULT* result) {
  if (header.hwndFrom != list_) return false;
  switch (header.code) {
    case LVN_GETDISPINFOW: {
      auto& info = const_cast<NMLVDISPINFOW&>(reinterpret_cast<const NMLVDISPINFOW&>(header));
      const int shown = info.item.iItem;
      if ((info.item.mask & LVIF_TEXT) == 0 || shown < 0 ||
          shown >= static_cast<int>(shown_.size()) || info.item.iSubItem < 0 ||
          info.item.iSubItem >= kColumnCount)
        return true;
      const std::wstring& text =
          items_[static_cast<std::size_t>(shown_[static_cast<std::size_t>(shown)])]
              .cells[static_cast<std::size_t>(info.item.iSubItem)];
      lstrcpynW(info.item.pszText, text.c_str(), info.item.cchTextMax);
      *result = 0;
      return true;
    }
    case LVN_COLUMNCLICK: {
      // Ascending, descending, then back to the engine's order.
      const int column = reinterpret_cast<const NMLISTVIEW&>(header).iSubItem;
      if (column != sortColumn_) {
        sortColumn_ = column;
        descending_ = false;
      } else if (!descending_) {
        descending_ = true;
      } else {
        sortColumn_ = -1;
      }
      ShowSortArrow();
      Rebuild(SelectedMac());
      *result = 0;
      return true;
    }
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
        const bool grey = draw.iSubItem == kAfs && shown < shown_.size() &&
                          !items_[static_cast<std::size_t>(shown_[shown])].ownAfs;
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

std::optional<UserListView::MenuTarget> UserListView::TargetOf(LPARAM contextMenuPoint) {
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
  if (shown >= static_cast<int>(shown_.size())) return std::nullopt;
  return MenuTarget{shown_[static_cast<std::size_t>(shown)], point};
}

}  // namespace orv
