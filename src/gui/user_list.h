// The user list: draws the users of an OperatorModel (its order, its filter, its selection,
// its sort column) and hands the operator's clicks back. Each item keeps the user's row in
// the engine's table, which the context menu's commands are made for (never the row as
// sorted or filtered here).
#pragma once

#include <QByteArray>
#include <QTreeWidget>
#include <array>

#include "app/operator_model.h"

namespace orv {

class UserList : public QTreeWidget {
  Q_OBJECT

 public:
  explicit UserList(QWidget* parent = nullptr);

  // Header titles and least widths, for a window windowWidth wide.
  void SetHeaders(const OperatorModel& model, int windowWidth);
  // Shows the model's users anew, keeping the scroll position.
  void Show(const OperatorModel& model);

  // The user's row in the engine's table, -1 for no item.
  static int EngineRow(const QTreeWidgetItem* item);
  // The MAC (code-page bytes) of the selected user; empty when nobody is selected.
  QByteArray SelectedMac() const;
  // The least width of column.
  int LeastWidth(int column) const { return leastWidths_[static_cast<std::size_t>(column)]; }

 signals:
  // A right click on a user, or the menu key on the selected one: where to open the menu.
  void userMenuRequested(int engineRow, const QPoint& globalPosition);
  // A click on a column's title.
  void columnClicked(int column);
  // The operator selected the user at position among those shown (-1: nobody).
  void userSelected(int position);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void FitColumns();

  std::array<int, kUserColumnCount> leastWidths_{OperatorModel::LeastColumnWidths(500)};
};

}  // namespace orv
