// The context menu of one user-list row (app/user_menu_model.h says what it holds) as a
// QMenu.
#pragma once

#include <QMenu>
#include <functional>

#include "app/user_menu_model.h"
#include "server/chat_server.h"
#include "server/operator_view.h"

namespace orv {

// Called with the command of the chosen item (and the AFS value for kSetAfs).
using RowAction = std::function<void(RowCommand command, int afsValue)>;

// Fills an empty menu for user; texts gives the language strings and the FloodStopper
// value that applies to users without an AFS value of their own.
void FillUserMenu(QMenu& menu, const UserRow& user, const ViewTexts& texts, const RowAction& act);

}  // namespace orv
