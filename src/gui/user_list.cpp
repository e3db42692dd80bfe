#include "gui/user_list.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStringList>
#include <algorithm>

namespace orv {

namespace {

constexpr int kEngineRowRole = Qt::UserRole;
constexpr int kMacRole = Qt::UserRole + 1;
constexpr int kShownRole = Qt::UserRole + 2;  // position among the users shown, -1: hidden

}  // namespace

UserList::UserList(QWidget* parent) : QTreeWidget(parent) {
  setColumnCount(kUserColumnCount);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setAllColumnsShowFocus(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  QHeaderView* head = header();
  head->setStretchLastSection(true);
  head->setSectionsMovable(false);
  head->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  // The model sorts; the header only shows its choice and passes the clicks on.
  head->setSectionsClickable(true);
  head->setSortIndicatorShown(true);
  head->setSortIndicator(-1, Qt::AscendingOrder);
  connect(head, &QHeaderView::sectionClicked, this, &UserList::columnClicked);
  connect(this, &QTreeWidget::itemSelectionChanged, this, [this] {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    emit userSelected(selected.isEmpty() ? -1 : selected.front()->data(0, kShownRole).toInt());
  });
}

void UserList::SetHeaders(const OperatorModel& model, int windowWidth) {
  QStringList titles;
  for (const std::string& title : model.ColumnTitles())
    titles << QString::fromStdString(title);
  setHeaderLabels(titles);
  leastWidths_ = OperatorModel::LeastColumnWidths(windowWidth);
  FitColumns();
}

void UserList::Show(const OperatorModel& model) {
  const int scrolled = verticalScrollBar()->value();
  // Filling selects nothing the operator chose.
  const QSignalBlocker quiet(this);
  clear();
  QList<QTreeWidgetItem*> items;
  items.reserve(static_cast<qsizetype>(model.Users().size()));
  const QString defaultTip = tr("No value of the user's own: the FloodStopper setting (%1) applies")
                                 .arg(model.Texts().floodStopper);
  std::size_t position = 0;
  const int selected = model.SelectedShown();
  QTreeWidgetItem* selectedItem = nullptr;
  for (const ListedUser& user : model.Users()) {
    QStringList cells;
    for (const std::string& cell : user.cells)
      cells << QString::fromStdString(cell);
    auto* item = new QTreeWidgetItem(cells);
    item->setData(0, kEngineRowRole, user.engineRow);
    item->setData(0, kMacRole, QByteArray::fromStdString(user.mac));
    item->setData(0, kShownRole, user.shown ? static_cast<int>(position) : -1);
    if (user.shown && static_cast<int>(position) == selected) selectedItem = item;
    if (user.shown) ++position;
    if (!user.ownAfs) {
      // The FloodStopper value in force, not the user's own.
      item->setForeground(kAfsColumn, palette().brush(QPalette::Disabled, QPalette::Text));
      item->setToolTip(kAfsColumn, defaultTip);
    }
    items.append(item);
  }
  addTopLevelItems(items);
  header()->setSortIndicator(model.SortColumn(), model.Order() == SortOrder::kDescending
                                                     ? Qt::DescendingOrder
                                                     : Qt::AscendingOrder);
  // Widths are fitted to every user, not only to those the filter lets through, so they
  // do not jump while the operator types.
  FitColumns();
  for (QTreeWidgetItem* item : items)
    item->setHidden(item->data(0, kShownRole).toInt() < 0);
  if (selectedItem != nullptr) setCurrentItem(selectedItem);
  verticalScrollBar()->setValue(scrolled);
}

int UserList::EngineRow(const QTreeWidgetItem* item) {
  if (item == nullptr) return -1;
  bool ok = false;
  const int row = item->data(0, kEngineRowRole).toInt(&ok);
  return ok ? row : -1;
}

QByteArray UserList::SelectedMac() const {
  const QList<QTreeWidgetItem*> selected = selectedItems();
  if (selected.isEmpty()) return {};
  return selected.front()->data(0, kMacRole).toByteArray();
}

void UserList::contextMenuEvent(QContextMenuEvent* event) {
  QTreeWidgetItem* item = nullptr;
  QPoint where;
  if (event->reason() == QContextMenuEvent::Mouse) {
    // Mouse events come through the viewport, in its coordinates.
    item = itemAt(event->pos());
    if (item != nullptr) setCurrentItem(item);
    where = event->globalPos();
  } else {
    // The menu key opens the menu of the selected user, under its row.
    item = currentItem();
    if (item != nullptr && (item->isHidden() || !item->isSelected())) item = nullptr;
    if (item != nullptr) {
      scrollToItem(item);
      const QRect box = visualItemRect(item);
      where = viewport()->mapToGlobal(QPoint(box.left() + box.height(), box.bottom()));
    }
  }
  event->accept();
  if (item != nullptr) emit userMenuRequested(EngineRow(item), where);
}

void UserList::FitColumns() {
  // Contents and titles are never cut: a column is as wide as its widest cell or its
  // title needs, and never narrower than its least width. The last column takes what is
  // left of the width, but no less than it needs.
  QHeaderView* head = header();
  auto needs = [&](int c) {
    return std::max({LeastWidth(c), sizeHintForColumn(c), head->sectionSizeHint(c)});
  };
  // The stretched column gets no less than the smallest section may have; the others are
  // wider than that anyway.
  head->setMinimumSectionSize(needs(kUserColumnCount - 1));
  for (int c = 0; c + 1 < kUserColumnCount; ++c)
    setColumnWidth(c, needs(c));
}

}  // namespace orv
