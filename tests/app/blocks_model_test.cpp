#include "app/blocks_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orv {
namespace {

StoredBlock Block(std::string key, StoredBlockKind kind, std::vector<std::string> refusing = {}) {
  return StoredBlock{std::move(key), kind, std::move(refusing)};
}

std::vector<std::string> Keys(const BlocksModel& model) {
  std::vector<std::string> keys;
  for (const BlockListRow& row : model.Rows())
    keys.push_back(row.key);
  return keys;
}

using Commands = std::vector<OperatorCommand>;

TEST(BlocksModel, RowsSayWhatEachEntryLooksLikeAndWhomOnlineItRefuses) {
  EXPECT_EQ(BlocksModel::ColumnTitles(), (std::array<std::string, kBlockColumnCount>{
                                             "Blocked", "Looks like", "Refuses online"}));
  EXPECT_EQ(BlocksModel::ListCommand(), OperatorCommand(command::Blocks{}));

  BlocksModel model;
  // "Ольга" in Windows-1251, a key with a line break a client wrote into its name.
  model.SetBlocks(
      {Block("10.0.0.7", StoredBlockKind::kAddress, {"alice (10.0.0.7)", "bob (10.0.0.7)"}),
       Block("00AA11BB22CC", StoredBlockKind::kMac),
       Block("\xCE\xEB\xFC\xE3\xE0\r\n", StoredBlockKind::kName,
             {"\xCE\xEB\xFC\xE3\xE0 (10.0.0.9)"})});
  ASSERT_EQ(model.Rows().size(), 3u);
  using Cells = std::array<std::string, kBlockColumnCount>;
  EXPECT_EQ(model.Rows()[0].cells,
            (Cells{"10.0.0.7", "address", "alice (10.0.0.7), bob (10.0.0.7)"}));
  EXPECT_EQ(model.Rows()[1].cells, (Cells{"00AA11BB22CC", "MAC", ""}));
  EXPECT_EQ(model.Rows()[2].cells, (Cells{"\xD0\x9E\xD0\xBB\xD1\x8C\xD0\xB3\xD0\xB0\\r\\n", "name",
                                          "\xD0\x9E\xD0\xBB\xD1\x8C\xD0\xB3\xD0\xB0 (10.0.0.9)"}));
  // Unblock sends the key as the list holds it, not as shown.
  EXPECT_EQ(model.Rows()[2].key, "\xCE\xEB\xFC\xE3\xE0\r\n");
}

TEST(BlocksModel, UnblockLiftsTheSelectedEntryAndTheSelectionMovesOn) {
  BlocksModel model;
  model.SetBlocks({Block("a", StoredBlockKind::kName), Block("b", StoredBlockKind::kName),
                   Block("c", StoredBlockKind::kName)});
  // Nothing selected: nothing to lift.
  EXPECT_EQ(model.Selected(), -1);
  EXPECT_FALSE(model.CanUnblock());
  EXPECT_TRUE(model.UnblockCommands().empty());

  model.Select(1);
  EXPECT_TRUE(model.CanUnblock());
  // The entry lifted, then the list asked for again.
  EXPECT_EQ(model.UnblockCommands(), (Commands{command::UnblockEntry{"b"}, command::Blocks{}}));

  // The new list without it: the entry that took its place is selected, ready for the next.
  model.SetBlocks({Block("a", StoredBlockKind::kName), Block("c", StoredBlockKind::kName)});
  EXPECT_EQ(model.Selected(), 1);
  EXPECT_EQ(model.UnblockCommands().front(), OperatorCommand(command::UnblockEntry{"c"}));
  model.SetBlocks({Block("a", StoredBlockKind::kName)});
  EXPECT_EQ(model.Selected(), 0);  // the last one went: the one before it
  // An entry still listed keeps the selection wherever it moves (a block added meanwhile).
  model.SetBlocks({Block("new", StoredBlockKind::kName), Block("a", StoredBlockKind::kName)});
  EXPECT_EQ(Keys(model), (std::vector<std::string>{"new", "a"}));
  EXPECT_EQ(model.Selected(), 1);

  model.SetBlocks({});
  EXPECT_EQ(model.Selected(), -1);
  EXPECT_TRUE(model.UnblockCommands().empty());
  model.SetBlocks({Block("a", StoredBlockKind::kName)});
  EXPECT_EQ(model.Selected(), -1);
  model.Select(3);
  EXPECT_EQ(model.Selected(), -1);
  model.Select(0);
  model.Select(-1);
  EXPECT_FALSE(model.CanUnblock());
}

}  // namespace
}  // namespace orv
