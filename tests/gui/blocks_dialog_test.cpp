#include "gui/blocks_dialog.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <string>
#include <vector>

#include "fake_engine.h"
#include "gui/operator_window.h"

// What the Blocks list holds and what Unblock sends are the model's rules
// (tests/app/blocks_model_test.cpp); here, the dialog the window opens for them.
namespace orv {
namespace {

QStringList Row(const QTreeWidget& list, int row) {
  QStringList cells;
  for (int c = 0; c < list.columnCount(); ++c)
    cells << list.topLevelItem(row)->text(c);
  return cells;
}

TEST(BlocksDialog, ListsTheStoredBlocksAndUnblocksTheSelectedOne) {
  FakeEngine engine;
  engine.blocks = {{"10.0.0.7", StoredBlockKind::kAddress, {"alice (10.0.0.7)"}},
                   {"00AA11BB22CC", StoredBlockKind::kMac, {}},
                   {"\xCF\xF0\xE8\xE2\xE5\xF2", StoredBlockKind::kName, {}}};
  OperatorWindow window(engine, {.trayAvailable = [] { return false; }});
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

  // Blocks... beside Refresh opens the list, as the engine gives it.
  auto* open = window.findChild<QPushButton*>("blocksButton");
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(open->text(), "Blocks...");
  open->click();
  auto* dialog = window.findChild<BlocksDialog*>("blocksDialog");
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(dialog->windowTitle(), "Stored blocks");
  auto* list = dialog->findChild<QTreeWidget*>("blocksList");
  auto* unblock = dialog->findChild<QPushButton*>("unblockButton");
  auto* empty = dialog->findChild<QLabel*>("blocksEmpty");
  ASSERT_TRUE(list && unblock && empty);
  QCoreApplication::processEvents();
  ASSERT_EQ(list->topLevelItemCount(), 3);
  EXPECT_EQ(list->headerItem()->text(1), "Looks like");
  EXPECT_EQ(Row(*list, 0), (QStringList{"10.0.0.7", "address", "alice (10.0.0.7)"}));
  EXPECT_EQ(Row(*list, 1), (QStringList{"00AA11BB22CC", "MAC", ""}));
  EXPECT_EQ(list->topLevelItem(2)->text(0),
            QString::fromUtf8("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"));
  EXPECT_FALSE(empty->isVisible());
  // Nothing selected: nothing to lift.
  EXPECT_FALSE(unblock->isEnabled());

  // Unblock lifts the selected entry by its key and shows the list anew, the next entry
  // selected.
  list->setCurrentItem(list->topLevelItem(1));
  EXPECT_TRUE(unblock->isEnabled());
  unblock->click();
  QCoreApplication::processEvents();
  EXPECT_EQ(engine.userCommands,
            (std::vector<std::string>{"blocks", "unblock-entry 00AA11BB22CC", "blocks"}));
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_EQ(list->currentItem(), list->topLevelItem(1));
  EXPECT_TRUE(list->topLevelItem(1)->isSelected());

  // An entry that is gone by the time Unblock arrives: the engine's reason shows.
  engine.blocks.pop_back();
  unblock->click();
  QCoreApplication::processEvents();
  auto* refusal = dialog->findChild<QMessageBox*>();
  ASSERT_NE(refusal, nullptr);
  EXPECT_TRUE(refusal->text().startsWith("The block list holds no block for "))
      << refusal->text().toStdString();
  refusal->close();
  ASSERT_EQ(list->topLevelItemCount(), 1);

  list->setCurrentItem(list->topLevelItem(0));
  unblock->click();
  QCoreApplication::processEvents();
  EXPECT_EQ(list->topLevelItemCount(), 0);
  EXPECT_TRUE(empty->isVisible());
  EXPECT_EQ(empty->text(), "No stored blocks");
  EXPECT_FALSE(unblock->isEnabled());

  // Close hides it; opening it again asks again.
  dialog->findChild<QPushButton*>("closeBlocksButton")->click();
  EXPECT_FALSE(dialog->isVisible());
  engine.blocks = {{"bob", StoredBlockKind::kName, {}}};
  open->click();
  QCoreApplication::processEvents();
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(list->topLevelItemCount(), 1);
  EXPECT_FALSE(empty->isVisible());
  EXPECT_EQ(window.findChildren<BlocksDialog*>().size(), 1);
  EXPECT_EQ(engine.shutdowns, 0);
}

}  // namespace
}  // namespace orv
