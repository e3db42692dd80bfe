// The user list: one row per user, in the engine's table order until the operator sorts by
// a column, narrowed by a filter text. Each item keeps the user's row in the engine's table,
// which the context menu's commands carry (never the row as sorted or filtered here), and
// the user's MAC, which keeps the selection on the same user across refreshes.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTreeWidget>
#include <array>
#include <vector>

#include "server/operator_values.h"

namespace orv {

class UserList : public QTreeWidget {
  Q_OBJECT

 public:
  enum Column {
    kMacColumn,
    kNameColumn,
    kIpColumn,
    kPeerColumn,
    kBlockColumn,
    kAfsColumn,
    kColumnCount
  };

  explicit UserList(QWidget* parent = nullptr);

  // Header titles from the language table; nameWidth is the name column's least width
  // (the others' are fixed: MAC 100, both addresses 75, block and AFS 50).
  void SetHeaders(const ViewTexts& texts, int nameWidth);
  // Replaces the rows (in table order). floodStopper is the AFS value that applies to users
  // without one of their own.
  void ShowRows(const std::vector<UserRow>& rows, int floodStopper);
  // Shows only the users whose name, MAC or either IP contains text, ignoring case; an
  // empty text shows everybody.
  void SetFilter(const QString& text);

  // The user's row in the engine's table, -1 for no item.
  static int EngineRow(const QTreeWidgetItem* item);
  // The MAC (code-page bytes) of the selected user; empty when nobody is selected.
  QByteArray SelectedMac() const;
  // The least width of column.
  int LeastWidth(int column) const { return leastWidths_[static_cast<std::size_t>(column)]; }

 signals:
  // A right click on a user, or the menu key on the selected one: where to open the menu.
  void userMenuRequested(int engineRow, const QPoint& globalPosition);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void FitColumns();
  void ApplyFilter();
  void SelectMac(const QByteArray& mac);
  void RestoreEngineOrder();

  std::array<int, kColumnCount> leastWidths_{100, 100, 75, 75, 50, 50};
  QString filter_;
};

}  // namespace orv
