// A task the engine runs later, once or again and again, through the scheduler: armed,
// re-armed (which restarts its delay) and cancelled in one place, and never run after the
// engine is gone.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <utility>

#include "server/scheduler.h"

namespace orv {

class PeriodicTask {
 public:
  // Nothing runs while scheduler is null (an engine without timers, in some tests).
  PeriodicTask(Scheduler* scheduler, std::shared_ptr<bool> alive)
      : scheduler_(scheduler), alive_(std::move(alive)) {}
  ~PeriodicTask() { Cancel(); }
  PeriodicTask(const PeriodicTask&) = delete;
  PeriodicTask& operator=(const PeriodicTask&) = delete;

  // Runs task once after delay; an armed task is cancelled first.
  void Once(std::chrono::milliseconds delay, std::function<void()> task) {
    Cancel();
    if (scheduler_ == nullptr) return;
    armed_ = true;
    std::weak_ptr<bool> alive = alive_;
    id_ = scheduler_->RunAfter(delay, [this, alive, task = std::move(task)] {
      if (auto token = alive.lock(); !token || !*token) return;
      armed_ = false;
      task();
    });
  }
  // Runs task every period while keepGoing() says so (asked before each run).
  void Every(std::chrono::milliseconds period, std::function<bool()> keepGoing,
             std::function<void()> task) {
    Once(period, [this, period, keepGoing = std::move(keepGoing), task = std::move(task)] {
      if (!keepGoing()) return;
      task();
      Every(period, keepGoing, task);
    });
  }
  void Cancel() {
    if (armed_ && scheduler_ != nullptr) scheduler_->Cancel(id_);
    armed_ = false;
  }
  bool Armed() const { return armed_; }

 private:
  Scheduler* scheduler_;
  std::shared_ptr<bool> alive_;
  Scheduler::TimerId id_ = 0;
  bool armed_ = false;
};

}  // namespace orv
