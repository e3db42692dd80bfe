#include "gui/user_list.h"

#include <gtest/gtest.h>

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>
#include <string>
#include <vector>

#include "user_rows.h"

namespace orv {
namespace {

struct ListFixture {
  ListFixture() {
    list.resize(700, 300);
    list.SetHeaders(Texts(), 120);
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
    const QList<QTreeWidgetItem*> found =
        list.findItems(name, Qt::MatchExactly, UserList::kNameColumn);
    return found.isEmpty() ? nullptr : found.front();
  }
  void ClickHeader(int column) {
    QHeaderView* head = list.header();
    const QPoint at(head->sectionViewportPosition(column) + head->sectionSize(column) / 2,
                    head->height() / 2);
    QTest::mouseClick(head->viewport(), Qt::LeftButton, {}, at);
  }

  UserList list;
};

TEST(UserList, ColumnsFitTheirContentsAndKeepTheirLeastWidths) {
  ListFixture f;
  f.list.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f.list));
  const std::vector<int> least{100, 120, 75, 75, 50, 50};
  f.list.ShowRows({User("AA", "x", "1.2.3.4")}, 15);
  for (int c = 0; c < UserList::kColumnCount; ++c) {
    EXPECT_EQ(f.list.LeastWidth(c), least[static_cast<std::size_t>(c)]) << c;
    EXPECT_GE(f.list.columnWidth(c), least[static_cast<std::size_t>(c)]) << c;
  }
  // Short contents leave the least widths; the last column takes the rest of the width.
  EXPECT_EQ(f.list.columnWidth(UserList::kMacColumn), 100);
  EXPECT_EQ(f.list.columnWidth(UserList::kIpColumn), 75);
  EXPECT_EQ(f.list.header()->length(), f.list.viewport()->width());

  // Long texts widen their columns, so nothing is cut; the selection spans the row.
  f.list.ShowRows({User("00-1A-2B-3C-4D-5E-6F-70", "Maximilian Featherstonehaugh",
                        "192.168.100.200", "192.168.100.201", 100)},
                  15);
  for (int c = 0; c < UserList::kColumnCount; ++c) {
    EXPECT_GE(f.list.header()->sectionSize(c), ContentWidth(f.list, c)) << c;
    EXPECT_GE(f.list.header()->sectionSize(c), f.list.header()->sectionSizeHint(c)) << c;
  }
  EXPECT_GT(f.list.columnWidth(UserList::kMacColumn), 100);
  EXPECT_GT(f.list.columnWidth(UserList::kIpColumn), 75);
  EXPECT_EQ(f.list.selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_TRUE(f.list.allColumnsShowFocus());

  // Narrower than the columns need, the list scrolls instead of cutting the last column.
  f.list.resize(300, 200);
  QCoreApplication::processEvents();
  EXPECT_GE(f.list.header()->sectionSize(UserList::kAfsColumn),
            ContentWidth(f.list, UserList::kAfsColumn));
}

TEST(UserList, AfsColumnShowsOwnValuesAndTheDefaultInForceInBrackets) {
  ListFixture f;
  f.list.ShowRows({User("A", "own", "1.1.1.1", "", 25), User("B", "none", "1.1.1.1", "", -1),
                   User("C", "zero", "1.1.1.1", "", 0)},
                  10);
  EXPECT_EQ(f.list.headerItem()->text(UserList::kAfsColumn), "AFS");
  EXPECT_EQ(f.Shown(UserList::kAfsColumn), (QStringList{"25", "(10)", "0"}));
  // The bracketed value says where it comes from.
  EXPECT_TRUE(f.ItemNamed("own")->toolTip(UserList::kAfsColumn).isEmpty());
  EXPECT_TRUE(f.ItemNamed("none")->toolTip(UserList::kAfsColumn).contains("FloodStopper"));

  // Sorted by the value in force, own or not.
  f.list.sortByColumn(UserList::kAfsColumn, Qt::AscendingOrder);
  EXPECT_EQ(f.Shown(UserList::kNameColumn), (QStringList{"zero", "none", "own"}));
}

TEST(UserList, SortingByAColumnKeepsTheSelectedUserAcrossRefreshes) {
  ListFixture f;
  f.list.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f.list));
  // Until a column is clicked the list keeps the engine's table order.
  f.list.ShowRows({User("M3", "carol", "10.0.0.10"), User("M1", "alice", "10.0.0.9"),
                   User("M2", "Bob", "10.0.0.100")},
                  15);
  EXPECT_EQ(f.Shown(UserList::kNameColumn), (QStringList{"carol", "alice", "Bob"}));

  f.ClickHeader(UserList::kNameColumn);
  EXPECT_EQ(f.Shown(UserList::kNameColumn), (QStringList{"alice", "Bob", "carol"}));
  f.list.setCurrentItem(f.ItemNamed("Bob"));
  EXPECT_EQ(UserList::EngineRow(f.list.currentItem()), 2);

  // A refresh brings newcomers, leavers and a new table order: the sort stays, and so does
  // the selection, on the user with the same MAC wherever that user now is.
  f.list.ShowRows({User("M2", "Bob", "10.0.0.100"), User("M4", "dave", "10.0.0.1"),
                   User("M1", "alice", "10.0.0.9")},
                  15);
  EXPECT_EQ(f.Shown(UserList::kNameColumn), (QStringList{"alice", "Bob", "dave"}));
  ASSERT_EQ(f.list.selectedItems().size(), 1);
  EXPECT_EQ(f.list.selectedItems().front()->text(UserList::kNameColumn), "Bob");
  EXPECT_EQ(UserList::EngineRow(f.list.selectedItems().front()), 0);
  EXPECT_EQ(f.list.SelectedMac(), "M2");

  // A second click sorts the other way; the third goes back to the table order.
  f.ClickHeader(UserList::kNameColumn);
  EXPECT_EQ(f.Shown(UserList::kNameColumn), (QStringList{"dave", "Bob", "alice"}));
  f.ClickHeader(UserList::kNameColumn);
  EXPECT_EQ(f.Shown(UserList::kNameColumn), (QStringList{"Bob", "dave", "alice"}));
  f.list.ShowRows({User("M1", "alice", "10.0.0.9"), User("M2", "Bob", "10.0.0.100")}, 15);
  EXPECT_EQ(f.Shown(UserList::kNameColumn), (QStringList{"alice", "Bob"}));
  EXPECT_EQ(f.list.SelectedMac(), "M2");

  // Addresses sort by their numbers.
  f.list.ShowRows({User("M3", "c", "10.0.0.10"), User("M1", "a", "10.0.0.9"),
                   User("M6", "b", "10.0.0.100"), User("M5", "e", "host")},
                  15);
  f.ClickHeader(UserList::kIpColumn);
  EXPECT_EQ(f.Shown(UserList::kIpColumn),
            (QStringList{"10.0.0.9", "10.0.0.10", "10.0.0.100", "host"}));
  // The user who left takes the selection with them.
  EXPECT_TRUE(f.list.selectedItems().isEmpty());
}

TEST(UserList, FilterMatchesNameMacOrEitherAddressIgnoringCase) {
  ListFixture f;
  // "Ольга" in Windows-1251.
  const std::string olga = "\xCE\xEB\xFC\xE3\xE0";
  f.list.ShowRows({User("00AABBCC0011", "alice", "192.168.1.23", "127.0.0.1"),
                   User("00DDEEFF0022", olga, "192.168.1.42", "10.9.8.7"),
                   User("00CCDD001122", "bob", "172.16.0.5", "127.0.0.1")},
                  15);
  const auto namesFor = [&](const QString& filter) {
    f.list.SetFilter(filter);
    return f.Shown(UserList::kNameColumn);
  };
  const QString olgaText = QString::fromUtf8("\xD0\x9E\xD0\xBB\xD1\x8C\xD0\xB3\xD0\xB0");
  EXPECT_EQ(namesFor("ALI"), QStringList{"alice"});
  EXPECT_EQ(namesFor(QString::fromUtf8("\xD0\xBE\xD0\xBB\xD1\x8C")), QStringList{olgaText});
  EXPECT_EQ(namesFor("ccdd"), QStringList{"bob"});                      // MAC, any case
  EXPECT_EQ(namesFor("192.168.1."), (QStringList{"alice", olgaText}));  // reported IP
  EXPECT_EQ(namesFor("10.9.8"), QStringList{olgaText});                 // connection address
  EXPECT_EQ(namesFor("nobody"), QStringList{});
  EXPECT_EQ(namesFor("  bob "), QStringList{"bob"});
  EXPECT_EQ(namesFor(""), (QStringList{"alice", olgaText, "bob"}));

  // The filter holds for the rows of later refreshes too; hidden rows keep their engine row.
  f.list.SetFilter("b");
  f.list.ShowRows({User("00CCDD001122", "bob", "172.16.0.5"), User("X1", "barbara", "1.1.1.1"),
                   User("X2", "carol", "1.1.1.2")},
                  15);
  EXPECT_EQ(f.Shown(UserList::kNameColumn), (QStringList{"bob", "barbara"}));
  EXPECT_EQ(UserList::EngineRow(f.ItemNamed("barbara")), 1);
}

TEST(UserList, RightClickAndMenuKeyAskForTheMenuOfTheUsersEngineRow) {
  ListFixture f;
  f.list.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f.list));
  f.list.ShowRows({User("M1", "carol", "1"), User("M2", "alice", "2"), User("M3", "bob", "3")}, 15);
  f.list.sortByColumn(UserList::kNameColumn, Qt::AscendingOrder);
  QSignalSpy asked(&f.list, &UserList::userMenuRequested);

  // A right click on the second row shown (bob, row 2 of the table) selects it and asks.
  const QPoint onBob = f.list.visualItemRect(f.list.topLevelItem(1)).center();
  QContextMenuEvent click(QContextMenuEvent::Mouse, onBob, f.list.viewport()->mapToGlobal(onBob));
  QCoreApplication::sendEvent(f.list.viewport(), &click);
  ASSERT_EQ(asked.count(), 1);
  EXPECT_EQ(asked.at(0).at(0).toInt(), 2);
  EXPECT_EQ(f.list.SelectedMac(), "M3");

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
