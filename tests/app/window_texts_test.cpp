#include "app/window_texts.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

ServerStatus Listening(std::string address, int port) {
  ServerStatus status;
  status.listening = true;
  status.address = std::move(address);
  status.port = port;
  return status;
}

TEST(WindowTexts, StatusSaysWhereTheServerListensOrWhyNot) {
  EXPECT_EQ(ListeningText(Listening("127.0.0.1", 9010)), "Listening on 127.0.0.1:9010");
  // No address configured: every local address.
  EXPECT_EQ(ListeningText(Listening("", 9010)), "Listening on 0.0.0.0:9010");

  ServerStatus failed = Listening("10.1.2.3", 80);
  failed.listening = false;
  failed.notListeningReason = "bind 10.1.2.3:80: Permission denied\r\n";
  EXPECT_EQ(ListeningText(failed), "Not listening: bind 10.1.2.3:80: Permission denied");
  failed.notListeningReason.clear();
  EXPECT_EQ(ListeningText(failed), "Not listening");
  failed.notListeningReason = " \r\n";
  EXPECT_EQ(ListeningText(failed), "Not listening");
  // The system's words may be in the code page.
  failed.notListeningReason = "\xCE\xF8\xE8\xE1\xEA\xE0";
  EXPECT_EQ(ListeningText(failed),
            "Not listening: \xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0");

  EXPECT_EQ(UsersOnlineText(0), "Users online: 0");
  EXPECT_EQ(UsersOnlineText(57), "Users online: 57");
}

TEST(WindowTexts, UptimeCountsHoursMinutesSecondsAndThenDays) {
  EXPECT_EQ(UptimeText(0), "Up 0:00:00");
  EXPECT_EQ(UptimeText(999), "Up 0:00:00");
  EXPECT_EQ(UptimeText(61'000), "Up 0:01:01");
  EXPECT_EQ(UptimeText((23 * 3600 + 59 * 60 + 59) * 1000LL), "Up 23:59:59");
  EXPECT_EQ(UptimeText(86'400'000LL), "Up 1 d 0:00:00");
  EXPECT_EQ(UptimeText((400 * 86400LL + 3 * 3600 + 4 * 60 + 5) * 1000), "Up 400 d 3:04:05");
  // A report from a clock that went back shows no negative time.
  EXPECT_EQ(UptimeText(-5000), "Up 0:00:00");
}

TEST(WindowTexts, ExitQuestionCountsWhoWouldBeDisconnected) {
  EXPECT_EQ(ExitQuestionText(1),
            "1 user is connected and will be disconnected.\nStop the chat server?");
  EXPECT_EQ(ExitQuestionText(12),
            "12 users are connected and will be disconnected.\nStop the chat server?");
}

TEST(WindowTexts, AfsCellShowsTheValueInForceBracketedWhenNotTheUsersOwn) {
  UserRow row;
  row.afs = 20;
  EXPECT_EQ(AfsCellText(row, 15), "20");
  row.afs = 0;
  EXPECT_EQ(AfsCellText(row, 15), "0");
  row.afs = -1;
  EXPECT_EQ(AfsCellText(row, 15), "(15)");
}

TEST(WindowTexts, AddressesSortByTheirNumbersAndOtherTextsAfterThem) {
  EXPECT_LT(AddressSortKey("10.0.0.9"), AddressSortKey("10.0.0.10"));
  EXPECT_LT(AddressSortKey("9.255.255.255"), AddressSortKey("10.0.0.0"));
  EXPECT_EQ(AddressSortKey("192.168.001.2"), AddressSortKey("192.168.1.2"));
  EXPECT_LT(AddressSortKey("255.255.255.255"), AddressSortKey("1.2.3"));
  for (const char* text :
       {"1.2.3", "1.2.3.4.5", "256.1.1.1", "a.b.c.d", "", "1..2.3", "1.2.3.", "1234.1.1.1"}) {
    EXPECT_EQ(AddressSortKey(text), std::string("1") + text) << text;
  }
}

}  // namespace
}  // namespace orv
