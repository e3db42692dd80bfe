// The context menu of one user-list row as plain values, for any window to show: the AFS
// submenu, kick, and the block or unblock items that fit the user's block state. Texts are
// code-page bytes, as the language table gives them.
#pragma once

#include <string>
#include <vector>

#include "server/operator_command.h"

namespace orv {

// AFS values the submenu offers besides 0.
inline constexpr int kAfsMenuStep = 5;
inline constexpr int kAfsMenuMax = 40;

struct UserMenuItem {
  bool separator = false;
  std::string text;
  // What choosing it asks of the engine, for the user the menu was made for (by MAC).
  OperatorCommand command;
  bool checkable = false;
  bool checked = false;
};

struct UserMenuModel {
  std::string afsTitle;
  std::vector<UserMenuItem> afsItems;  // the submenu, first in the menu
  std::vector<UserMenuItem> items;     // after it
};

// texts gives the language strings and the FloodStopper value that applies to users
// without an AFS value of their own (whose item carries the check mark).
UserMenuModel BuildUserMenu(const UserRow& user, const ViewTexts& texts);

}  // namespace orv
