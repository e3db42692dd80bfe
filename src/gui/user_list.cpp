#include "gui/user_list.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QScrollBar>
#include <QStringList>
#include <algorithm>

#include "app/window_texts.h"
#include "console/escape.h"
#include "gui/code_page_text.h"

namespace orv {

namespace {

constexpr int kEngineRowRole = Qt::UserRole;
constexpr int kMacRole = Qt::UserRole + 1;
constexpr int kSortKeyRole = Qt::UserRole + 2;

// Addresses sort by their numbers (app/window_texts.h).
QString AddressKey(const QString& text) {
  return QString::fromStdString(AddressSortKey(text.toStdString()));
}

// An item that sorts by the key its column holds, and keeps the engine's order among
// equal keys.
class UserItem final : public QTreeWidgetItem {
 public:
  using QTreeWidgetItem::QTreeWidgetItem;

  bool operator<(const QTreeWidgetItem& other) const override {
    const int column = treeWidget() != nullptr ? treeWidget()->sortColumn() : -1;
    if (column < 0) return UserList::EngineRow(this) < UserList::EngineRow(&other);
    const int order =
        QString::compare(data(column, kSortKeyRole).toString(),
                         other.data(column, kSortKeyRole).toString(), Qt::CaseInsensitive);
    if (order != 0) return order < 0;
    return UserList::EngineRow(this) < UserList::EngineRow(&other);
  }
};

}  // namespace

UserList::UserList(QWidget* parent) : QTreeWidget(parent) {
  setColumnCount(kColumnCount);
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
  // Table order until the operator clicks a column; a third click goes back to it.
  head->setSortIndicatorClearable(true);
  head->setSortIndicator(-1, Qt::AscendingOrder);
  setSortingEnabled(true);
  connect(head, &QHeaderView::sortIndicatorChanged, this, [this](int section, Qt::SortOrder) {
    if (section < 0) RestoreEngineOrder();
  });
}

void UserList::SetHeaders(const ViewTexts& texts, int nameWidth) {
  setHeaderLabels({QStringLiteral("MAC"), FromCodePage(texts.String(StringId::kNameColumn)),
                   QStringLiteral("IP"), FromCodePage(texts.String(StringId::kAddressColumn)),
                   FromCodePage(texts.String(StringId::kBlockColumn)), QStringLiteral("AFS")});
  leastWidths_[kNameColumn] = nameWidth;
  FitColumns();
}

void UserList::ShowRows(const std::vector<UserRow>& rows, int floodStopper) {
  const QByteArray selected = SelectedMac();
  const int scrolled = verticalScrollBar()->value();

  // Filled unsorted, then sorted once by the column the operator chose (if any).
  setSortingEnabled(false);
  clear();
  QList<QTreeWidgetItem*> items;
  items.reserve(static_cast<qsizetype>(rows.size()));
  // Names, addresses and MACs are what clients wrote: control characters show as escapes.
  auto cell = [](const std::string& text) { return FromCodePage(EscapeControlCharacters(text)); };
  const QString defaultTip =
      tr("No value of the user's own: the FloodStopper setting (%1) applies").arg(floodStopper);
  for (std::size_t n = 0; n < rows.size(); ++n) {
    const UserRow& row = rows[n];
    // Users without a value of their own get the FloodStopper setting; the column shows it
    // in brackets, as the value in force that is not the user's own.
    const bool own = row.afs >= 0;
    const int afs = own ? row.afs : floodStopper;
    auto* item = new UserItem(QStringList{cell(row.mac), cell(row.name), cell(row.reportedIp),
                                          cell(row.peerAddress), cell(row.blockText),
                                          QString::fromStdString(AfsCellText(row, floodStopper))});
    item->setData(kMacColumn, kEngineRowRole, static_cast<int>(n));
    item->setData(kMacColumn, kMacRole, QByteArray::fromStdString(row.mac));
    for (int c : {kMacColumn, kNameColumn, kBlockColumn})
      item->setData(c, kSortKeyRole, item->text(c));
    item->setData(kIpColumn, kSortKeyRole, AddressKey(item->text(kIpColumn)));
    item->setData(kPeerColumn, kSortKeyRole, AddressKey(item->text(kPeerColumn)));
    item->setData(kAfsColumn, kSortKeyRole,
                  QStringLiteral("%1").arg(afs, 10, 10, QLatin1Char('0')));
    if (!own) {
      item->setForeground(kAfsColumn, palette().brush(QPalette::Disabled, QPalette::Text));
      item->setToolTip(kAfsColumn, defaultTip);
    }
    items.append(item);
  }
  addTopLevelItems(items);
  setSortingEnabled(true);

  // Widths are fitted to every user, not only to those the filter lets through, so they
  // do not jump while the operator types.
  FitColumns();
  ApplyFilter();
  if (!selected.isEmpty()) SelectMac(selected);
  verticalScrollBar()->setValue(scrolled);
}

void UserList::SetFilter(const QString& text) {
  filter_ = text.trimmed();
  ApplyFilter();
}

int UserList::EngineRow(const QTreeWidgetItem* item) {
  if (item == nullptr) return -1;
  bool ok = false;
  const int row = item->data(kMacColumn, kEngineRowRole).toInt(&ok);
  return ok ? row : -1;
}

QByteArray UserList::SelectedMac() const {
  const QList<QTreeWidgetItem*> selected = selectedItems();
  if (selected.isEmpty()) return {};
  return selected.front()->data(kMacColumn, kMacRole).toByteArray();
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
  head->setMinimumSectionSize(needs(kColumnCount - 1));
  for (int c = 0; c + 1 < kColumnCount; ++c)
    setColumnWidth(c, needs(c));
}

void UserList::ApplyFilter() {
  for (int i = 0; i < topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = topLevelItem(i);
    bool shown = filter_.isEmpty();
    for (int c : {kMacColumn, kNameColumn, kIpColumn, kPeerColumn}) {
      if (shown) break;
      shown = item->text(c).contains(filter_, Qt::CaseInsensitive);
    }
    item->setHidden(!shown);
  }
}

void UserList::SelectMac(const QByteArray& mac) {
  for (int i = 0; i < topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = topLevelItem(i);
    if (item->data(kMacColumn, kMacRole).toByteArray() == mac) {
      setCurrentItem(item);
      return;
    }
  }
}

void UserList::RestoreEngineOrder() {
  const QByteArray selected = SelectedMac();
  QList<QTreeWidgetItem*> items;
  while (topLevelItemCount() > 0)
    items.append(takeTopLevelItem(0));
  std::sort(items.begin(), items.end(), [](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
    return EngineRow(a) < EngineRow(b);
  });
  // Added as they are: a sorting list would place them by the order the indicator had.
  setSortingEnabled(false);
  addTopLevelItems(items);
  setSortingEnabled(true);
  // Items taken out lose their hidden state.
  ApplyFilter();
  if (!selected.isEmpty()) SelectMac(selected);
}

}  // namespace orv
