#include "gui/user_menu.h"

#include <QAction>
#include <string>

#include "gui/code_page_text.h"

namespace orv {

namespace {

// Language strings and user names: "&" shows as it is.
QString MenuText(const std::string& bytes) {
  return EscapeMnemonics(FromCodePage(bytes));
}

void AddItems(QMenu& menu, const std::vector<UserMenuItem>& items, const MenuChoice& choose) {
  for (const UserMenuItem& item : items) {
    if (item.separator) {
      menu.addSeparator();
      continue;
    }
    QAction* action = menu.addAction(MenuText(item.text));
    action->setCheckable(item.checkable);
    action->setChecked(item.checked);
    QObject::connect(action, &QAction::triggered, &menu,
                     [choose, command = item.command] { choose(command); });
  }
}

}  // namespace

void FillUserMenu(QMenu& menu, const UserMenuModel& model, const MenuChoice& choose) {
  AddItems(*menu.addMenu(MenuText(model.afsTitle)), model.afsItems, choose);
  AddItems(menu, model.items, choose);
}

}  // namespace orv
