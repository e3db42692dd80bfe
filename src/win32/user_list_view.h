// The user list of the Windows window: a report-style list view that asks for its cells
// (owner data) and draws the users of an OperatorModel (its order, its filter, its
// selection, its sort column); clicks on a column's title and selections go back to the
// model. Each shown row knows the user's row in the engine's table, which menu commands are
// made for. UI thread only.
#pragma once

#include <windows.h>

#include <array>
#include <optional>

#include "app/operator_model.h"

namespace orv {

class UserListView {
 public:
  // Makes the list view as a child of parent with control id.
  void Create(HWND parent, int id, HFONT font);
  HWND Handle() const { return list_; }

  // Header titles and least widths, for a window windowWidth wide.
  void SetHeaders(const OperatorModel& model, int windowWidth);
  // Shows the model's users anew, keeping the scroll position.
  void Show(const OperatorModel& model);

  // The parent's WM_NOTIFY for this list; true when handled, with the result. A click on a
  // column's title sorts the model (and shows it anew); a selection selects in the model.
  bool OnNotify(const NMHDR& header, OperatorModel& model, LRESULT* result);

  struct MenuTarget {
    int engineRow;
    POINT screenPoint;
  };
  // The user a WM_CONTEXTMENU on the list is about (the item under the mouse, or the
  // selected one when the menu key was pressed) and where to open the menu.
  std::optional<MenuTarget> TargetOf(LPARAM contextMenuPoint, const OperatorModel& model);

 private:
  void FitColumns(const OperatorModel& model);
  void ShowSortArrow(const OperatorModel& model);

  HWND list_ = nullptr;
  HFONT font_ = nullptr;
  std::array<int, kUserColumnCount> leastWidths_ = OperatorModel::LeastColumnWidths(500);
  bool showing_ = false;  // selections made while showing are the model's own
};

}  // namespace orv
