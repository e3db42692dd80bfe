// The engine's timers on Asio: each task waits on a steady_timer of the engine's
// io_context and runs on its thread.
#pragma once

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <unordered_map>

#include "server/scheduler.h"

namespace orv {

class AsioScheduler final : public Scheduler {
 public:
  explicit AsioScheduler(asio::io_context& io);
  // Pending tasks are dropped.
  ~AsioScheduler() override;
  AsioScheduler(const AsioScheduler&) = delete;
  AsioScheduler& operator=(const AsioScheduler&) = delete;

  TimerId RunAfter(std::chrono::milliseconds delay, std::function<void()> task) override;
  void Cancel(TimerId id) override;
  std::chrono::milliseconds SteadyNow() const override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
  }

  std::size_t Pending() const { return state_->timers.size(); }

 private:
  struct Entry {
    std::unique_ptr<asio::steady_timer> timer;
    std::function<void()> task;
  };
  // Shared with the timer handlers, which may outlive the scheduler.
  struct State {
    std::unordered_map<TimerId, Entry> timers;
  };

  asio::io_context& io_;
  std::shared_ptr<State> state_;
  TimerId nextId_ = 0;
};

}  // namespace orv
