// The context menu of one user-list row: the AFS submenu, kick, and the block or unblock
// items that fit the user's block state.
#pragma once

#include <QMenu>
#include <functional>

#include "server/chat_server.h"
#include "server/operator_view.h"

namespace orv {

// Called with the command of the chosen item (and the AFS value for kSetAfs).
using RowAction = std::function<void(RowCommand command, int afsValue)>;

// AFS values the submenu offers besides 0.
inline constexpr int kAfsMenuStep = 5;
inline constexpr int kAfsMenuMax = 40;

// Fills an empty menu for user; texts gives the language strings and the FloodStopper
// value that applies to users without an AFS value of their own.
void FillUserMenu(QMenu& menu, const UserRow& user, const ViewTexts& texts, const RowAction& act);

}  // namespace orv
