#include "net/asio_scheduler.h"

#include <gtest/gtest.h>

#include <string>

#include "net_test_support.h"

namespace orv::test {
namespace {

using std::chrono::milliseconds;

TEST(AsioSchedulerTest, RunsLaterInDelayOrderAndHonoursCancel) {
  asio::io_context io;
  std::string order;
  {
    AsioScheduler scheduler(io);
    scheduler.RunAfter(milliseconds(40), [&] { order += "c"; });
    const auto cancelled = scheduler.RunAfter(milliseconds(10), [&] { order += "x"; });
    scheduler.RunAfter(milliseconds(0), [&] {
      order += "a";
      // A task may arm another timer.
      scheduler.RunAfter(milliseconds(5), [&] { order += "b"; });
    });
    EXPECT_EQ(order, "");  // never inside RunAfter
    scheduler.Cancel(cancelled);
    scheduler.Cancel(cancelled);  // twice: ignored
    scheduler.Cancel(999);        // unknown: ignored
    EXPECT_TRUE(RunUntil(io, [&] { return order.size() == 3; }));
    EXPECT_EQ(order, "abc");
    EXPECT_EQ(scheduler.Pending(), 0u);

    // A task whose timer is cancelled while it is already due does not run either.
    const auto due = scheduler.RunAfter(milliseconds(0), [&] { order += "!"; });
    std::this_thread::sleep_for(milliseconds(5));
    scheduler.Cancel(due);
    RunUntil(
        io, [] { return false; }, milliseconds(20));
    EXPECT_EQ(order, "abc");
    scheduler.RunAfter(milliseconds(1), [&] { order += "gone"; });
  }
  // The scheduler is gone: its pending task must not run.
  RunUntil(
      io, [] { return false; }, milliseconds(20));
  EXPECT_EQ(order, "abc");
}

}  // namespace
}  // namespace orv::test
