#include "gui/user_list.h"

#include <gtest/gtest.h>

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>
#include <string>
#include <vector>

#include "user_rows.h"

// The list's rules (order, filter, selection by MAC) are the model's, tested in
// tests/app/operator_model_test.cpp; here, that the list draws them and passes the
// operator's clicks back.
namespace orv {
namespace {

struct ListFixture {
  ListFixture() {
    model.SetTexts(Texts());
    list.resize(700, 300);
    list.SetHeaders(model, 600);
    // As the window wires them.
    QObject::connect(&list, &UserList::columnClicked, [this](int column) {
      model.ClickColumn(column);
      list.Show(model);
    });
    QObject::connect(&list, &UserList::userSelected,
                     [this](int position) { model.SelectShown(position); });
  }
  void ShowRows(std::vector<UserRow> rows, int floodStopper = 15) {
    model.SetTexts(Texts(floodStopper));
    model.SetRows(std::move(rows));
    list.Show(model);
  }
  void SetFilter(const std::string& text) {
    model.SetFilter(text);
    list.Show(model);
  }
  // The texts of column as the list shows them, top to bottom, without hidden rows.
  QStringList Shown(int column) const {
    QStringList texts;
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
      const QTreeWidgetItem* item = list.topLevelItem(i);
      if (!item->isHidden()) texts << item->text(column);
    }
    return texts;
  }
  QTreeWidgetItem* ItemNamed(const QString& name) const {
    const QList<QTreeWidgetItem*> found = list.findItems(name, Qt::MatchExactly, kNameColumn);
    return found.isEmpty() ? nullptr : found.front();
  }
  void ClickHeader(int column) {
    QHeaderView* head = list.header();
    const QPoint at(head->sectionViewportPosition(column) + head->sectionSize(column) / 2,
                    head->height() / 2);
    QTest::mouseClick(head->viewport(), Qt::LeftButton, {}, at);
  }

  OperatorModel model;
  UserList list;
};

TEST(UserList, ColumnsFitTheirContentsAndKeepTheirLeastWidths) {
  ListFixture f;
  f.list.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f.list));
  const std::vector<int> least{100, 120, 75, 75, 50, 50};
  f.ShowRows({User("AA", "x", "1.2.3.4")});
  for (int c = 0; c < kUserColumnCount; ++c) {
    EXPECT_EQ(f.list.LeastWidth(c), least[static_cast<std::size_t>(c)]) << c;
    EXPECT_GE(f.list.columnWidth(c), least[static_cast<std::size_t>(c)]) << c;
  }
  // Short contents leave the least widths; the last column takes the rest of the width.
  EXPECT_EQ(f.list.columnWidth(kMacColumn), 100);
  EXPECT_EQ(f.list.columnWidth(kIpColumn), 75);
  EXPECT_EQ(f.list.header()->length(), f.list.viewport()->width());

  // Long texts widen their columns, so nothing is cut; the selection spans the row.
  f.ShowRows({User("00-1A-2B-3C-4D-5E-6F-70", "Maximilian Featherstonehaugh", "192.168.100.200",
                   "192.168.100.201", 100)});
  for (int c = 0; c < kUserColumnCount; ++c) {
    EXPECT_GE(f.list.header()->sectionSize(c), ContentWidth(f.list, c)) << c;
    EXPECT_GE(f.list.header()->sectionSize(c), f.list.header()->sectionSizeHint(c)) << c;
  }
  EXPECT_GT(f.list.columnWidth(kMacColumn), 100);
  EXPECT_GT(f.list.columnWidth(kIpColumn), 75);
  EXPECT_EQ(f.list.selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_TRUE(f.list.allColumnsShowFocus());

  // A user the filter hides still counts for the widths: they do not jump while typing.
  const int nameWidth = f.list.columnWidth(kNameColumn);
  f.ShowRows({User("A", "qq", "1.1.1.1"), User("B", "Maximilian Featherstonehaugh", "1.1.1.1")});
  f.SetFilter("qq");
  EXPECT_EQ(f.Shown(kNameColumn), QStringList{"qq"});
  EXPECT_EQ(f.list.columnWidth(kNameColumn), nameWidth);

  // Narrower than the columns need, the list scrolls instead of cutting the last column.
  f.list.resize(300, 200);
  QCoreApplication::processEvents();
  EXPECT_GE(f.list.header()->sectionSize(kAfsColumn), ContentWidth(f.list, kAfsColumn));
}

TEST(UserList, AfsColumnShowsOwnValuesAndTheDefaultInForceInBrackets) {
  ListFixture f;
  f.ShowRows({User("A", "own", "1.1.1.1", "", 25), User("B", "none", "1.1.1.1", "", -1),
              User("C", "zero", "1.1.1.1", "", 0)},
             10);
  EXPECT_EQ(f.list.headerItem()->text(kAfsColumn), "AFS");
  EXPECT_EQ(f.Shown(kAfsColumn), (QStringList{"25", "(10)", "0"}));
  // The bracketed value says where it comes from, and is grey.
  EXPECT_TRUE(f.ItemNamed("own")->toolTip(kAfsColumn).isEmpty());
  EXPECT_TRUE(f.ItemNamed("none")->toolTip(kAfsColumn).contains("FloodStopper setting (10)"));
  EXPECT_NE(f.ItemNamed("none")->foreground(kAfsColumn),
            f.ItemNamed("own")->foreground(kAfsColumn));
}

TEST(UserList, HeaderClicksReachTheModelAndTheListShowsItsOrderAndSelection) {
  ListFixture f;
  f.list.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f.list));
  f.ShowRows({User("M3", "carol", "10.0.0.10"), User("M1", "alice", "10.0.0.9"),
              User("M2", "Bob", "10.0.0.100")});
  EXPECT_EQ(f.Shown(kNameColumn), (QStringList{"carol", "alice", "Bob"}));
  EXPECT_EQ(f.list.header()->sortIndicatorSection(), -1);

  f.ClickHeader(kNameColumn);
  EXPECT_EQ(f.model.SortColumn(), kNameColumn);
  EXPECT_EQ(f.Shown(kNameColumn), (QStringList{"alice", "Bob", "carol"}));
  EXPECT_EQ(f.list.header()->sortIndicatorSection(), kNameColumn);
  EXPECT_EQ(f.list.header()->sortIndicatorOrder(), Qt::AscendingOrder);

  // Choosing a user tells the model; a refresh shows the same user selected.
  f.list.setCurrentItem(f.ItemNamed("Bob"));
  EXPECT_EQ(f.model.SelectedMac(), "M2");
  EXPECT_EQ(UserList::EngineRow(f.list.currentItem()), 2);
  f.ShowRows({User("M2", "Bob", "10.0.0.100"), User("M4", "dave", "10.0.0.1"),
              User("M1", "alice", "10.0.0.9")});
  ASSERT_EQ(f.list.selectedItems().size(), 1);
  EXPECT_EQ(f.list.selectedItems().front()->text(kNameColumn), "Bob");
  EXPECT_EQ(UserList::EngineRow(f.list.selectedItems().front()), 0);
  EXPECT_EQ(f.list.SelectedMac(), "M2");

  f.ClickHeader(kNameColumn);
  EXPECT_EQ(f.Shown(kNameColumn), (QStringList{"dave", "Bob", "alice"}));
  EXPECT_EQ(f.list.header()->sortIndicatorOrder(), Qt::DescendingOrder);
  f.ClickHeader(kNameColumn);
  EXPECT_EQ(f.Shown(kNameColumn), (QStringList{"Bob", "dave", "alice"}));
  EXPECT_EQ(f.list.header()->sortIndicatorSection(), -1);
  EXPECT_EQ(f.list.SelectedMac(), "M2");

  // Filtered out, the user is a hidden item, not selected; a click on nobody clears it.
  f.SetFilter("a");
  EXPECT_EQ(f.Shown(kNameColumn), (QStringList{"dave", "alice"}));
  EXPECT_TRUE(f.ItemNamed("Bob")->isHidden());
  EXPECT_EQ(UserList::EngineRow(f.ItemNamed("alice")), 2);
  EXPECT_TRUE(f.list.selectedItems().isEmpty());
  f.SetFilter("");
  EXPECT_EQ(f.list.SelectedMac(), "M2");
  f.list.clearSelection();
  EXPECT_EQ(f.model.SelectedMac(), "");
}

TEST(UserList, RightClickAndMenuKeyAskForTheMenuOfTheUsersEngineRow) {
  ListFixture f;
  f.list.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f.list));
  f.ShowRows({User("M1", "carol", "1"), User("M2", "alice", "2"), User("M3", "bob", "3")});
  f.ClickHeader(kNameColumn);
  QSignalSpy asked(&f.list, &UserList::userMenuRequested);

  // A right click on the second row shown (bob, row 2 of the table) selects it and asks.
  const QPoint onBob = f.list.visualItemRect(f.list.topLevelItem(1)).center();
  QContextMenuEvent click(QContextMenuEvent::Mouse, onBob, f.list.viewport()->mapToGlobal(onBob));
  QCoreApplication::sendEvent(f.list.viewport(), &click);
  ASSERT_EQ(asked.count(), 1);
  EXPECT_EQ(asked.at(0).at(0).toInt(), 2);
  EXPECT_EQ(f.list.SelectedMac(), "M3");
  EXPECT_EQ(f.model.SelectedMac(), "M3");

  // The menu key asks for the selected user.
  f.list.setCurrentItem(f.ItemNamed("alice"));
  QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(0, 0),
                        f.list.mapToGlobal(QPoint(0, 0)));
  QCoreApplication::sendEvent(&f.list, &key);
  ASSERT_EQ(asked.count(), 2);
  EXPECT_EQ(asked.at(1).at(0).toInt(), 1);

  // A click below the rows, or the menu key with nobody selected, asks nothing.
  const QPoint below(5, f.list.viewport()->height() - 2);
  QContextMenuEvent empty(QContextMenuEvent::Mouse, below, f.list.viewport()->mapToGlobal(below));
  QCoreApplication::sendEvent(f.list.viewport(), &empty);
  f.list.clearSelection();
  QCoreApplication::sendEvent(&f.list, &key);
  EXPECT_EQ(asked.count(), 2);
}

}  // namespace
}  // namespace orv
