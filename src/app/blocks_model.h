// The windows' list of stored blocks: every entry of the block list, online or not, with
// what it looks like (an address, a MAC or a name) and whom online it refuses; Unblock lifts
// the selected entry by its key and asks for the list again. Texts it gives are UTF-8. One
// thread (the window's).
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "server/operator_command.h"

namespace orv {

enum BlockListColumn : int {
  kBlockKeyColumn,
  kBlockKindColumn,
  kBlockRefusingColumn,
  kBlockColumnCount
};

struct BlockListRow {
  std::string key;  // as the block list holds it: what Unblock sends
  std::array<std::string, kBlockColumnCount> cells;
};

class BlocksModel {
 public:
  static constexpr const char* kTitle = "Stored blocks";
  static constexpr const char* kOpenButton = "Blocks...";
  static constexpr const char* kUnblockButton = "Unblock";
  static constexpr const char* kCloseButton = "Close";
  static constexpr const char* kEmptyText = "No stored blocks";
  static std::array<std::string, kBlockColumnCount> ColumnTitles();

  // What the list is asked with, when it opens and after each unblock.
  static OperatorCommand ListCommand() { return command::Blocks{}; }
  // The list as the engine gave it. The selection stays on the same entry; when that entry
  // is gone (lifted), it moves to the one that took its place, so that several entries can
  // be lifted one after the other.
  void SetBlocks(const std::vector<StoredBlock>& blocks);
  const std::vector<BlockListRow>& Rows() const { return rows_; }

  // row in Rows(), -1 for none.
  void Select(int row);
  int Selected() const { return selected_; }
  // The entry lifted, then the list asked for again; nothing while no entry is selected.
  std::vector<OperatorCommand> UnblockCommands() const;
  bool CanUnblock() const { return selected_ >= 0; }

 private:
  std::vector<BlockListRow> rows_;
  int selected_ = -1;
};

}  // namespace orv
