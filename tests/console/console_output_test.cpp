#include "console/console_output.h"

#include <gtest/gtest.h>

#include "console/console_test_support.h"

namespace orv {
namespace {

using testing::ReadFile;

class ConsoleTest : public ::testing::Test {
 protected:
  std::string Log() const { return ReadFile(folder_.Path() / "logs" / "12-06-2026.log"); }

  testing::TempFolder folder_;
  testing::FixedClock clock_;
  ConsoleSwitches settings_;
  LogWriter log_{folder_.Path(), clock_};
  testing::RecordingSink sink_;
  Console console_{settings_, log_, clock_, sink_};
};

TEST_F(ConsoleTest, LogCopyNeedsAllowLogFlagAndSixCharacters) {
  console_.PrintText("Hello", false, true);
  EXPECT_EQ(Log(), "");
  console_.PrintText("Hello!", false, true);
  // The log copy is stamped although the console line is not.
  EXPECT_EQ(Log(), "[09:05:03] Hello!\r\n");

  console_.PrintText("Not for the log", true, false);
  EXPECT_EQ(Log(), "[09:05:03] Hello!\r\n");

  // Five characters of text plus a console stamp are still five characters.
  console_.PrintText("Short", true, true);
  EXPECT_EQ(Log(), "[09:05:03] Hello!\r\n");

  // An empty text still makes an empty console line.
  console_.PrintText("", false, true);

  settings_.ServerAllowLog = false;
  console_.PrintText("Operator line", true, true);
  EXPECT_EQ(Log(), "[09:05:03] Hello!\r\n");

  EXPECT_EQ(sink_.shown,
            (std::vector<std::string>{"Hello", "Hello!", "[09:05:03] Not for the log",
                                      "[09:05:03] Short", "", "[09:05:03] Operator line"}));
}

TEST_F(ConsoleTest, ClearsOnlyOnceTheViewHoldsMoreThanMaxLineMessage) {
  EXPECT_EQ(console_.LineCount(), 1);
  for (int i = 0; i < 300; ++i)
    console_.PrintText("x", false, true);
  EXPECT_EQ(console_.LineCount(), 301);
  EXPECT_EQ(sink_.clears, 0);

  console_.PrintText("after", false, true);
  EXPECT_EQ(sink_.clears, 1);
  EXPECT_EQ(sink_.shown, std::vector<std::string>{"after"});
  EXPECT_EQ(console_.LineCount(), 2);

  // Only CR LF breaks a line in the view; a text may carry several.
  console_.PrintText("one\r\ntwo\r\nthree", false, true);
  EXPECT_EQ(console_.LineCount(), 5);
  console_.PrintText("lone\nfeed\rreturn\r", false, true);
  EXPECT_EQ(console_.LineCount(), 6);

  // With a limit of 0 (or below) every line starts a fresh view.
  settings_.MaxLineMessage = 0;
  console_.PrintText("a", false, true);
  console_.PrintText("b", false, true);
  EXPECT_EQ(sink_.clears, 3);
  EXPECT_EQ(sink_.shown, std::vector<std::string>{"b"});
  settings_.MaxLineMessage = -5;
  console_.PrintText("c", false, true);
  EXPECT_EQ(sink_.clears, 4);

  // A multi-line text can push the count past the limit in one go; the next line clears.
  settings_.MaxLineMessage = 3;
  console_.PrintText("1\r\n2\r\n3\r\n4", false, true);
  EXPECT_EQ(sink_.clears, 4);
  EXPECT_EQ(console_.LineCount(), 6);
  console_.PrintText("next", false, true);
  EXPECT_EQ(sink_.clears, 5);
  EXPECT_EQ(sink_.shown, std::vector<std::string>{"next"});
}

TEST_F(ConsoleTest, DebugLogTracesEveryPrint) {
  settings_.DebugLog = true;
  console_.PrintText("Server started", true, true);
  EXPECT_EQ(Log(),
            "[09:05:03] ::: print text proccess\r\n"
            "[09:05:03] Server started\r\n"
            "[09:05:03] ::: print text proccess OK\r\n");

  // Trace lines do not depend on ServerAllowLog.
  settings_.ServerAllowLog = false;
  console_.PrintText("Server started", true, true);
  console_.DebugTrace("::: accept proccess");
  EXPECT_EQ(Log(),
            "[09:05:03] ::: print text proccess\r\n"
            "[09:05:03] Server started\r\n"
            "[09:05:03] ::: print text proccess OK\r\n"
            "[09:05:03] ::: print text proccess\r\n"
            "[09:05:03] ::: print text proccess OK\r\n"
            "[09:05:03] ::: accept proccess\r\n");

  const std::string before = Log();
  settings_.DebugLog = false;
  console_.DebugTrace("::: close proccess");
  console_.PrintText("Server started", true, true);
  EXPECT_EQ(Log(), before);
}

}  // namespace
}  // namespace orv
