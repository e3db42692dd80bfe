#include "gui/server_status_bar.h"

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

TEST(ServerStatusBar, SaysWhereTheServerListensOrWhyNot) {
  EXPECT_EQ(ServerStatusBar::ListeningText(Listening("127.0.0.1", 9010)),
            "Listening on 127.0.0.1:9010");
  // No address configured: every local address.
  EXPECT_EQ(ServerStatusBar::ListeningText(Listening("", 9010)), "Listening on 0.0.0.0:9010");

  ServerStatus failed = Listening("10.1.2.3", 80);
  failed.listening = false;
  failed.notListeningReason = "bind 10.1.2.3:80: Permission denied\r\n";
  EXPECT_EQ(ServerStatusBar::ListeningText(failed),
            "Not listening: bind 10.1.2.3:80: Permission denied");
  failed.notListeningReason.clear();
  EXPECT_EQ(ServerStatusBar::ListeningText(failed), "Not listening");
  // The system's words may be in the code page.
  failed.notListeningReason = "\xCE\xF8\xE8\xE1\xEA\xE0";
  EXPECT_EQ(ServerStatusBar::ListeningText(failed),
            QString::fromUtf8("Not listening: \xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0"));

  EXPECT_EQ(ServerStatusBar::UsersText(0), "Users online: 0");
  EXPECT_EQ(ServerStatusBar::UsersText(57), "Users online: 57");
}

TEST(ServerStatusBar, UptimeCountsHoursMinutesSecondsAndThenDays) {
  EXPECT_EQ(ServerStatusBar::UptimeText(0), "Up 0:00:00");
  EXPECT_EQ(ServerStatusBar::UptimeText(999), "Up 0:00:00");
  EXPECT_EQ(ServerStatusBar::UptimeText(61'000), "Up 0:01:01");
  EXPECT_EQ(ServerStatusBar::UptimeText((23 * 3600 + 59 * 60 + 59) * 1000LL), "Up 23:59:59");
  EXPECT_EQ(ServerStatusBar::UptimeText(86'400'000LL), "Up 1 d 0:00:00");
  EXPECT_EQ(ServerStatusBar::UptimeText((400 * 86400LL + 3 * 3600 + 4 * 60 + 5) * 1000),
            "Up 400 d 3:04:05");
  // A report from a clock that went back shows no negative time.
  EXPECT_EQ(ServerStatusBar::UptimeText(-5000), "Up 0:00:00");
}

}  // namespace
}  // namespace orv
