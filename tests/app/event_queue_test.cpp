#include "app/event_queue.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "server/event_hub.h"

namespace orv {
namespace {

using std::chrono::milliseconds;

EventQueue::Options Capacity(std::size_t capacity) {
  EventQueue::Options options;
  options.capacity = capacity;
  return options;
}

// A follower that reads keeps up; one that falls behind is dropped at once, without the
// engine ever waiting for it, and the others go on.
TEST(EventQueue, AFollowerThatFallsBehindIsDroppedAndTheOthersGoOn) {
  EventHub hub;
  auto slow = std::make_shared<EventQueue>(Capacity(3));
  auto reader = std::make_shared<EventQueue>(Capacity(3));
  hub.Subscribe(slow);
  hub.Subscribe(reader);
  EXPECT_TRUE(hub.WantsUserEvents());
  EXPECT_FALSE(hub.WantsUserList());
  for (int i = 0; i < 10; ++i) {
    hub.Publish(event::ConsoleLine{"line " + std::to_string(i)});
    const auto got = reader->Pop(milliseconds(0));
    ASSERT_TRUE(got);
    EXPECT_EQ(std::get<event::ConsoleLine>(*got).text, "line " + std::to_string(i));
  }
  EXPECT_TRUE(slow->Dropped());
  EXPECT_FALSE(slow->Alive());
  EXPECT_FALSE(slow->Pop(milliseconds(0)));
  EXPECT_EQ(hub.Count(), 1u);  // let go of at the next event
  EXPECT_FALSE(reader->Dropped());

  // A reader that waits is woken by the next event; one that closes is let go of.
  std::thread engine([&hub] {
    std::this_thread::sleep_for(milliseconds(20));
    hub.Publish(event::ConsoleLine{"late"});
  });
  const auto late = reader->Pop(milliseconds(5000));
  engine.join();
  ASSERT_TRUE(late);
  EXPECT_EQ(std::get<event::ConsoleLine>(*late).text, "late");
  reader->Close();
  hub.Publish(event::ConsoleLine{"nobody"});
  EXPECT_EQ(hub.Count(), 0u);
  EXPECT_FALSE(hub.WantsUserEvents());
}

}  // namespace
}  // namespace orv
