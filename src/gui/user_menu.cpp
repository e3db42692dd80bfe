#include "gui/user_menu.h"

#include <QAction>
#include <string>

#include "gui/code_page_text.h"

namespace orv {

namespace {

// Language string n, or a single space when the table does not have it (as the engine's
// GetString answers).
QString MenuText(const std::string& bytes) {
  return EscapeMnemonics(FromCodePage(bytes));
}

void AddCommand(QMenu& menu, const std::string& text, RowCommand command, const RowAction& act) {
  QAction* action = menu.addAction(MenuText(text));
  QObject::connect(action, &QAction::triggered, &menu, [act, command] { act(command, 0); });
}

void AddAfsItem(QMenu& menu, const QString& text, int value, bool checked, const RowAction& act) {
  QAction* action = menu.addAction(text);
  action->setCheckable(true);
  action->setChecked(checked);
  QObject::connect(action, &QAction::triggered, &menu,
                   [act, value] { act(RowCommand::kSetAfs, value); });
}

}  // namespace

void FillUserMenu(QMenu& menu, const UserRow& user, const ViewTexts& texts, const RowAction& act) {
  const std::string name = user.name.empty() ? "n/a" : user.name;
  QMenu* afsMenu = menu.addMenu(MenuText(texts.String(StringId::kFloodStopper) + " " +
                                         texts.String(StringId::kAfsFor) + " " + name));

  const bool zero = user.afs == 0;
  AddAfsItem(*afsMenu,
             MenuText("0 " + texts.String(zero ? StringId::kOff : StringId::kAfsSwitchOff)), 0,
             zero, act);
  afsMenu->addSeparator();
  for (int value = kAfsMenuStep; value <= kAfsMenuMax; value += kAfsMenuStep) {
    // A user without a value of its own runs with the FloodStopper default.
    const bool checked = user.afs == value || (user.afs < 0 && value == texts.floodStopper);
    AddAfsItem(*afsMenu, QString::number(value), value, checked, act);
  }

  menu.addSeparator();
  AddCommand(menu, texts.String(StringId::kKick), RowCommand::kKick, act);
  menu.addSeparator();
  switch (user.blockState) {
    case BlockState::kNone:
      AddCommand(menu, texts.String(StringId::kBlockByIp), RowCommand::kBlockIp, act);
      AddCommand(menu, texts.String(StringId::kBlockByMac), RowCommand::kBlockMac, act);
      AddCommand(menu, texts.String(StringId::kBlockByName), RowCommand::kBlockName, act);
      break;
    case BlockState::kIp:
      AddCommand(menu, texts.String(StringId::kUnblockByIp), RowCommand::kUnblockIp, act);
      break;
    case BlockState::kMac:
      AddCommand(menu, texts.String(StringId::kUnblockByMac), RowCommand::kUnblockMac, act);
      break;
    case BlockState::kName:
      AddCommand(menu, texts.String(StringId::kUnblockByName), RowCommand::kUnblockName, act);
      break;
  }
}

}  // namespace orv
