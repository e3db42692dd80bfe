#include "app/user_menu_model.h"

namespace orv {

namespace {

UserMenuItem Command(std::string text, RowCommand command) {
  UserMenuItem item;
  item.text = std::move(text);
  item.command = command;
  return item;
}

UserMenuItem AfsItem(std::string text, int value, bool checked) {
  UserMenuItem item = Command(std::move(text), RowCommand::kSetAfs);
  item.afsValue = value;
  item.checkable = true;
  item.checked = checked;
  return item;
}

UserMenuItem Separator() {
  UserMenuItem item;
  item.separator = true;
  return item;
}

}  // namespace

UserMenuModel BuildUserMenu(const UserRow& user, const ViewTexts& texts) {
  UserMenuModel menu;
  const std::string name = user.name.empty() ? "n/a" : user.name;
  menu.afsTitle =
      texts.String(StringId::kFloodStopper) + " " + texts.String(StringId::kAfsFor) + " " + name;

  const bool zero = user.afs == 0;
  menu.afsItems.push_back(
      AfsItem("0 " + texts.String(zero ? StringId::kOff : StringId::kAfsSwitchOff), 0, zero));
  menu.afsItems.push_back(Separator());
  for (int value = kAfsMenuStep; value <= kAfsMenuMax; value += kAfsMenuStep) {
    // A user without a value of its own runs with the FloodStopper default.
    const bool checked = user.afs == value || (user.afs < 0 && value == texts.floodStopper);
    menu.afsItems.push_back(AfsItem(std::to_string(value), value, checked));
  }

  menu.items.push_back(Separator());
  menu.items.push_back(Command(texts.String(StringId::kKick), RowCommand::kKick));
  menu.items.push_back(Separator());
  switch (user.blockState) {
    case BlockState::kNone:
      menu.items.push_back(Command(texts.String(StringId::kBlockByIp), RowCommand::kBlockIp));
      menu.items.push_back(Command(texts.String(StringId::kBlockByMac), RowCommand::kBlockMac));
      menu.items.push_back(Command(texts.String(StringId::kBlockByName), RowCommand::kBlockName));
      // The address the connection comes from: the one key the client cannot choose. (The
      // language files have no text for it.)
      menu.items.push_back(Command("Block connection address", RowCommand::kBlockAddress));
      break;
    case BlockState::kIp:
      menu.items.push_back(Command(texts.String(StringId::kUnblockByIp), RowCommand::kUnblockIp));
      break;
    case BlockState::kMac:
      menu.items.push_back(Command(texts.String(StringId::kUnblockByMac), RowCommand::kUnblockMac));
      break;
    case BlockState::kName:
      menu.items.push_back(
          Command(texts.String(StringId::kUnblockByName), RowCommand::kUnblockName));
      break;
    case BlockState::kAddress:
      menu.items.push_back(Command("Unblock connection address", RowCommand::kUnblockAddress));
      break;
  }
  return menu;
}

}  // namespace orv
