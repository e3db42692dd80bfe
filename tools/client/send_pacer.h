// Keeps a client to the AFS value the server sent it: at most that many packets in any
// stretch of kAfsInterval, 0 for no limit. The client asks before each send and waits
// until NextFree when it may not send yet.
#pragma once

#include <chrono>
#include <deque>

namespace orv::client {

class SendPacer {
 public:
  using Clock = std::chrono::steady_clock;
  // The stretch of time the AFS value counts packets in.
  static constexpr std::chrono::seconds kAfsInterval{60};

  // The value the server sent; packets sent before it count against it too.
  void SetLimit(int packetsPerInterval);
  int limit() const { return limit_; }

  // Whether a packet may go now; when it may, it is counted as sent.
  bool TryTake(Clock::time_point now);
  // When the next packet may go (now when it may go at once).
  Clock::time_point NextFree(Clock::time_point now);

 private:
  void Forget(Clock::time_point now);

  int limit_ = 0;
  std::deque<Clock::time_point> sent_;  // within the last interval, oldest first
};

}  // namespace orv::client
