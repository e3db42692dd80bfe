#include "app/blocks_model.h"

#include <algorithm>

#include "app/headless_view.h"
#include "console/code_page.h"
#include "console/escape.h"

namespace orv {

std::array<std::string, kBlockColumnCount> BlocksModel::ColumnTitles() {
  return {"Blocked", "Looks like", "Refuses online"};
}

void BlocksModel::SetBlocks(const std::vector<StoredBlock>& blocks) {
  const std::string selectedKey =
      selected_ >= 0 ? rows_[static_cast<std::size_t>(selected_)].key : std::string();
  rows_.clear();
  rows_.reserve(blocks.size());
  for (const StoredBlock& block : blocks) {
    BlockListRow row;
    row.key = block.key;
    // The key is whatever was blocked, a client's text: control characters escaped. The
    // names of the users it refuses come escaped already.
    row.cells[kBlockKeyColumn] = Cp1251ToUtf8(EscapeControlCharacters(block.key));
    row.cells[kBlockKindColumn] = LooksLikeText(block.looksLike);
    std::string refusing;
    for (const std::string& user : block.refusing)
      refusing += (refusing.empty() ? "" : ", ") + user;
    row.cells[kBlockRefusingColumn] = Cp1251ToUtf8(refusing);
    rows_.push_back(std::move(row));
  }
  if (selected_ < 0 || rows_.empty()) {
    selected_ = -1;
    return;
  }
  const auto same = std::find_if(rows_.begin(), rows_.end(),
                                 [&](const BlockListRow& row) { return row.key == selectedKey; });
  selected_ = same != rows_.end() ? static_cast<int>(same - rows_.begin())
                                  : std::min(selected_, static_cast<int>(rows_.size()) - 1);
}

void BlocksModel::Select(int row) {
  selected_ = row >= 0 && row < static_cast<int>(rows_.size()) ? row : -1;
}

std::vector<OperatorCommand> BlocksModel::UnblockCommands() const {
  if (selected_ < 0) return {};
  return {command::UnblockEntry{rows_[static_cast<std::size_t>(selected_)].key}, ListCommand()};
}

}  // namespace orv
