// The user list of the Windows window: a report-style list view that asks for its cells
// (owner data), one row per user, in the engine's table order until the operator sorts by a
// column, narrowed by a filter text. Each shown row knows the user's row in the engine's
// table, which menu commands carry, and the selection follows the user's MAC across
// refreshes. UI thread only.
#pragma once

#include <windows.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "server/operator_values.h"

namespace orv {

class UserListView {
 public:
  enum Column { kMac, kName, kIp, kPeer, kBlock, kAfs, kColumnCount };

  // Makes the list view as a child of parent with control id.
  void Create(HWND parent, int id, HFONT font);
  HWND Handle() const { return list_; }

  // Header titles from the language table; nameWidth is the name column's least width
  // (the others': MAC 100, both addresses 75, block and AFS 50).
  void SetHeaders(const ViewTexts& texts, int nameWidth);
  // Replaces the rows (in table order); floodStopper applies to users without an AFS value.
  void ShowRows(std::vector<UserRow> rows, int floodStopper);
  // Shows only users whose MAC, name or either address contains text, ignoring case.
  void SetFilter(const std::wstring& text);

  // The parent's WM_NOTIFY for this list; true when handled, with the result.
  bool OnNotify(const NMHDR& header, LRESULT* result);

  struct MenuTarget {
    int engineRow;
    POINT screenPoint;
  };
  // The user a WM_CONTEXTMENU on the list is about (the item under the mouse, or the
  // selected one when the menu key was pressed) and where to open the menu.
  std::optional<MenuTarget> TargetOf(LPARAM contextMenuPoint);
  const std::vector<UserRow>& Rows() const { return rows_; }

 private:
  struct Item {
    std::array<std::wstring, kColumnCount> cells;
    std::array<std::wstring, kColumnCount> lowered;  // for the filter
    std::array<std::string, 3> addressKeys;          // IP, peer (sort keys)
    int afsInForce = 0;
    bool ownAfs = false;
  };

  void Rebuild(const std::string& keepMac);
  void FitColumns();
  void ShowSortArrow();
  bool Less(int a, int b) const;
  std::string SelectedMac() const;

  HWND list_ = nullptr;
  HFONT font_ = nullptr;
  std::vector<UserRow> rows_;
  std::vector<Item> items_;
  std::vector<int> shown_;  // engine rows in the order shown
  std::array<int, kColumnCount> leastWidths_{100, 100, 75, 75, 50, 50};
  int sortColumn_ = -1;  // -1: the engine's order
  bool descending_ = false;
  std::wstring filter_;  // lowered
};

}  // namespace orv
