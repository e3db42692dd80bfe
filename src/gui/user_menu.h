// The context menu of one user-list row (app/user_menu_model.h says what it holds) as a
// QMenu.
#pragma once

#include <QMenu>
#include <functional>

#include "app/user_menu_model.h"
#include "server/operator_command.h"
#include "server/operator_values.h"

namespace orv {

// Called with the command of the chosen item.
using MenuChoice = std::function<void(const OperatorCommand& command)>;

// Fills an empty menu for user; texts gives the language strings and the FloodStopper
// value that applies to users without an AFS value of their own.
void FillUserMenu(QMenu& menu, const UserRow& user, const ViewTexts& texts,
                  const MenuChoice& choose);

}  // namespace orv
