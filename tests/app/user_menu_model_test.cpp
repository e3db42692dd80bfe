#include "app/user_menu_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orv {
namespace {

ViewTexts Texts(int floodStopper) {
  ViewTexts texts;
  texts.floodStopper = floodStopper;
  texts.strings.resize(kStringCount);
  for (int n = 0; n < kStringCount; ++n)
    texts.strings[static_cast<std::size_t>(n)] = "S" + std::to_string(n);
  return texts;
}

std::vector<std::string> Checked(const UserMenuModel& menu) {
  std::vector<std::string> checked;
  for (const UserMenuItem& item : menu.afsItems) {
    if (item.checked) checked.push_back(item.text);
  }
  return checked;
}

TEST(UserMenuModel, AfsSubmenuChecksTheValueInForce) {
  UserRow user;
  user.name = "ann";
  user.mac = "AA01";
  user.afs = -1;
  UserMenuModel menu = BuildUserMenu(user, Texts(10));
  EXPECT_EQ(menu.afsTitle, "S4 S2 ann");
  ASSERT_EQ(menu.afsItems.size(), 10u);  // 0, a separator, 5 .. 40
  EXPECT_EQ(menu.afsItems[0].text, "0 S3");
  EXPECT_TRUE(menu.afsItems[1].separator);
  EXPECT_EQ(Checked(menu), std::vector<std::string>{"10"});
  EXPECT_EQ(menu.afsItems[9].command, OperatorCommand(command::SetAfs{"AA01", 40}));

  user.afs = 0;
  menu = BuildUserMenu(user, Texts(10));
  EXPECT_EQ(menu.afsItems[0].text, "0 S1");
  EXPECT_EQ(Checked(menu), std::vector<std::string>{"0 S1"});

  // A FloodStopper value or an own value the menu does not offer: nothing is checked.
  user.afs = -1;
  EXPECT_TRUE(Checked(BuildUserMenu(user, Texts(12))).empty());
  user.afs = 33;
  EXPECT_TRUE(Checked(BuildUserMenu(user, Texts(10))).empty());

  user.name.clear();
  EXPECT_EQ(BuildUserMenu(user, Texts(10)).afsTitle, "S4 S2 n/a");
}

TEST(UserMenuModel, BlockItemsFitTheUsersBlockState) {
  // Each item's command names the user by MAC.
  auto commands = [](BlockState state) {
    UserRow user;
    user.mac = "AA01";
    user.blockState = state;
    std::vector<std::string> found;
    for (const UserMenuItem& item : BuildUserMenu(user, Texts(15)).items) {
      if (!item.separator) found.push_back(Describe(item.command));
    }
    return found;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(commands(BlockState::kNone), (V{"kick AA01", "block AA01 by IP", "block AA01 by MAC",
                                            "block AA01 by name", "block AA01 by address"}));
  for (const BlockState state :
       {BlockState::kIp, BlockState::kMac, BlockState::kName, BlockState::kAddress}) {
    EXPECT_EQ(commands(state), (V{"kick AA01", "unblock AA01"}));
  }

  UserRow user;
  const UserMenuModel menu = BuildUserMenu(user, Texts(15));
  EXPECT_EQ(menu.items[1].text, "S19");
  EXPECT_EQ(menu.items[3].text, "S12");
}

}  // namespace
}  // namespace orv
