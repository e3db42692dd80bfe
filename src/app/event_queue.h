// A subscriber that lives on another thread (a control-socket follower, a web page's event
// stream): the engine's events wait here for the reader, at most a fixed number of them.
// One that falls behind is dropped, never waited for: when the queue is full the next event
// ends it, the engine lets go of it, and the reader is told it fell behind. The engine's
// side never blocks beyond a short lock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

#include "server/engine_event.h"

namespace orv {

class EventQueue final : public EventSubscriber {
 public:
  struct Options {
    std::size_t capacity = 1000;  // events that may wait
    bool userList = false;        // whole lists after refreshes
    bool userEvents = true;       // users joining, changing, leaving
    // Called (on the engine thread) after an event was queued, for readers that wait on
    // something else than Pop (a socket's loop).
    std::function<void()> wake;
  };

  explicit EventQueue(Options options);

  // Engine thread.
  void OnEvent(const EngineEvent& event) override;
  bool WantsUserList() const override { return options_.userList; }
  bool WantsUserEvents() const override { return options_.userEvents; }
  bool Alive() const override;

  // Reader's side: the oldest event, waiting at most wait for one; nothing when none came,
  // or when the queue was dropped or closed (see Dropped, Closed).
  std::optional<EngineEvent> Pop(std::chrono::milliseconds wait);
  // Every event waiting, without waiting.
  std::deque<EngineEvent> TakeAll();
  // Whether it fell behind and was dropped.
  bool Dropped() const;
  // The reader goes away: no more events are queued, and the engine lets go of it.
  void Close();
  bool Closed() const;

 private:
  const Options options_;
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<EngineEvent> events_;
  bool dropped_ = false;
  bool closed_ = false;
};

}  // namespace orv
