#include "app/event_queue.h"

#include <utility>

namespace orv {

EventQueue::EventQueue(Options options) : options_(std::move(options)) {}

void EventQueue::OnEvent(const EngineEvent& event) {
  {
    std::lock_guard lock(mutex_);
    if (dropped_ || closed_) return;
    if (events_.size() >= options_.capacity) {
      // Fallen behind: what waits is given up, and the reader hears so.
      dropped_ = true;
      events_.clear();
    } else {
      events_.push_back(event);
    }
  }
  arrived_.notify_one();
  if (options_.wake) options_.wake();
}

bool EventQueue::Alive() const {
  std::lock_guard lock(mutex_);
  return !dropped_ && !closed_;
}

std::optional<EngineEvent> EventQueue::Pop(std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  arrived_.wait_for(lock, wait, [this] { return !events_.empty() || dropped_ || closed_; });
  if (events_.empty()) return std::nullopt;
  EngineEvent event = std::move(events_.front());
  events_.pop_front();
  return event;
}

std::deque<EngineEvent> EventQueue::TakeAll() {
  std::lock_guard lock(mutex_);
  std::deque<EngineEvent> taken;
  taken.swap(events_);
  return taken;
}

bool EventQueue::Dropped() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

void EventQueue::Close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    events_.clear();
  }
  arrived_.notify_all();
}

bool EventQueue::Closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

}  // namespace orv
