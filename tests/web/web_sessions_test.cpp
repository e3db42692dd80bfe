// The bounds of the session store and the login gate: neither grows without end, whatever
// a guesser on many addresses does.
#include "web/web_sessions.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_folder.h"
#include "web/web_password.h"

namespace orv {
namespace {

TEST(WebSessions, SessionsAndRememberedAddressesAreBounded) {
  std::chrono::steady_clock::time_point now{std::chrono::hours(1)};
  WebSessions sessions(std::chrono::minutes(30), [&now] { return now; });
  const WebSessions::Session first = sessions.Open("10.0.0.1");
  now += std::chrono::seconds(1);
  const WebSessions::Session second = sessions.Open("10.0.0.1");
  for (std::size_t i = 2; i < WebSessions::kMostSessions; ++i) {
    now += std::chrono::seconds(1);
    sessions.Open("10.0.0.2");
  }
  EXPECT_TRUE(sessions.Use(first.id));  // used now: the second is the oldest
  sessions.Open("10.0.0.3");
  EXPECT_TRUE(sessions.Alive(first.id));
  EXPECT_FALSE(sessions.Alive(second.id));
  EXPECT_FALSE(sessions.Use(""));

  // Guesses from many addresses: each address's count is its own, and the oldest are
  // forgotten beyond the bound.
  for (std::size_t i = 0; i < WebSessions::kMostAddresses + 10; ++i)
    sessions.Failed("10.1." + std::to_string(i / 256) + "." + std::to_string(i % 256));
  for (int i = 0; i < WebSessions::kFailuresAllowed - 1; ++i)
    EXPECT_FALSE(sessions.Failed("10.9.9.9"));
  EXPECT_FALSE(sessions.LockedOut("10.9.9.9"));
  EXPECT_TRUE(sessions.Failed("10.9.9.9"));
  EXPECT_EQ(sessions.LockedOut("10.9.9.9"), std::chrono::seconds(60));
}

TEST(WebPassword, OnlyASaltedArgon2idHashIsKeptForTheOwnerAlone) {
  testing::TempFolder folder;
  std::string error;
  EXPECT_FALSE(SetWebPassword(folder.Path(), "short", &error));
  EXPECT_EQ(error, "the password is shorter than 8 characters; nothing was changed");
  EXPECT_FALSE(ReadWebPasswordHash(folder.Path()));

  ASSERT_TRUE(SetWebPassword(folder.Path(), "пароль длинный", &error)) << error;
  const std::string first = *ReadWebPasswordHash(folder.Path());
  EXPECT_EQ(first.rfind("$argon2id$", 0), 0u) << first;
  EXPECT_EQ(first.find("пароль"), std::string::npos);
  const auto perms = std::filesystem::status(folder / kWebPasswordFileName).permissions();
  EXPECT_EQ(perms & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_TRUE(VerifyWebPassword(first, "пароль длинный"));
  EXPECT_FALSE(VerifyWebPassword(first, "пароль длинный "));
  EXPECT_FALSE(VerifyWebPassword("garbage", "x"));

  // Set again, the same password has another salt.
  ASSERT_TRUE(SetWebPassword(folder.Path(), "пароль длинный", &error));
  EXPECT_NE(*ReadWebPasswordHash(folder.Path()), first);
  EXPECT_EQ(testing::FolderEntries(folder.Path()), std::vector<std::string>{kWebPasswordFileName});
}

}  // namespace
}  // namespace orv
