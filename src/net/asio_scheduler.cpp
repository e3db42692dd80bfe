#include "net/asio_scheduler.h"

#include <utility>

namespace orv {

AsioScheduler::AsioScheduler(asio::io_context& io) : io_(io), state_(std::make_shared<State>()) {}

AsioScheduler::~AsioScheduler() = default;

Scheduler::TimerId AsioScheduler::RunAfter(std::chrono::milliseconds delay,
                                           std::function<void()> task) {
  const TimerId id = ++nextId_;
  auto timer = std::make_unique<asio::steady_timer>(io_, delay);
  timer->async_wait([weak = std::weak_ptr<State>(state_), id](const std::error_code& error) {
    auto state = weak.lock();
    if (!state) return;
    auto found = state->timers.find(id);
    if (found == state->timers.end()) return;
    // Take the entry out before running: the task may arm or cancel timers itself.
    Entry entry = std::move(found->second);
    state->timers.erase(found);
    if (!error && entry.task) entry.task();
  });
  state_->timers.emplace(id, Entry{std::move(timer), std::move(task)});
  return id;
}

void AsioScheduler::Cancel(TimerId id) {
  auto found = state_->timers.find(id);
  if (found == state_->timers.end()) return;
  // Destroying the timer aborts its wait; a handler already queued finds no entry.
  state_->timers.erase(found);
}

}  // namespace orv
