#include "app/user_menu_model.h"

namespace orv {

namespace {

UserMenuItem Command(std::string text, OperatorCommand command) {
  UserMenuItem item;
  item.text = std::move(text);
  item.command = std::move(command);
  return item;
}

UserMenuItem AfsItem(std::string text, const std::string& mac, int value, bool checked) {
  UserMenuItem item = Command(std::move(text), command::SetAfs{mac, value});
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
  menu.afsItems.push_back(AfsItem(
      "0 " + texts.String(zero ? StringId::kOff : StringId::kAfsSwitchOff), user.mac, 0, zero));
  menu.afsItems.push_back(Separator());
  for (int value = kAfsMenuStep; value <= kAfsMenuMax; value += kAfsMenuStep) {
    // A user without a value of its own runs with the FloodStopper default.
    const bool checked = user.afs == value || (user.afs < 0 && value == texts.floodStopper);
    menu.afsItems.push_back(AfsItem(std::to_string(value), user.mac, value, checked));
  }

  menu.items.push_back(Separator());
  menu.items.push_back(Command(texts.String(StringId::kKick), command::Kick{user.mac}));
  menu.items.push_back(Separator());
  switch (user.blockState) {
    case BlockState::kNone:
      menu.items.push_back(
          Command(texts.String(StringId::kBlockByIp), command::Block{user.mac, BlockState::kIp}));
      menu.items.push_back(
          Command(texts.String(StringId::kBlockByMac), command::Block{user.mac, BlockState::kMac}));
      menu.items.push_back(Command(texts.String(StringId::kBlockByName),
                                   command::Block{user.mac, BlockState::kName}));
      // The address the connection comes from: the one key the client cannot choose. (The
      // language files have no text for it.)
      menu.items.push_back(
          Command("Block connection address", command::Block{user.mac, BlockState::kAddress}));
      break;
    case BlockState::kIp:
      menu.items.push_back(
          Command(texts.String(StringId::kUnblockByIp), command::Unblock{user.mac}));
      break;
    case BlockState::kMac:
      menu.items.push_back(
          Command(texts.String(StringId::kUnblockByMac), command::Unblock{user.mac}));
      break;
    case BlockState::kName:
      menu.items.push_back(
          Command(texts.String(StringId::kUnblockByName), command::Unblock{user.mac}));
      break;
    case BlockState::kAddress:
      menu.items.push_back(Command("Unblock connection address", command::Unblock{user.mac}));
      break;
  }
  return menu;
}

}  // namespace orv
