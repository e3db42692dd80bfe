// The context menu of one user-list row (app/user_menu_model.h says what it holds) as a
// QMenu.
#pragma once

#include <QMenu>
#include <functional>

#include "app/user_menu_model.h"
#include "server/operator_command.h"

namespace orv {

// Called with the command of the chosen item.
using MenuChoice = std::function<void(const OperatorCommand& command)>;

// Fills an empty menu with the items of model.
void FillUserMenu(QMenu& menu, const UserMenuModel& model, const MenuChoice& choose);

}  // namespace orv
