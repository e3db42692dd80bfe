// Deferred work on the engine thread (timers), behind an interface so tests can drive a
// manual clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace orv {

class Scheduler {
 public:
  using TimerId = std::uint64_t;
  virtual ~Scheduler() = default;
  // Runs task once on the engine thread after delay. Never runs it inside this call.
  virtual TimerId RunAfter(std::chrono::milliseconds delay, std::function<void()> task) = 0;
  // A cancelled task does not run; unknown or finished ids are ignored.
  virtual void Cancel(TimerId id) = 0;
  // Time on a steady clock that only moves forward (for how long something has lasted).
  virtual std::chrono::milliseconds SteadyNow() const = 0;
};

}  // namespace orv
