#include "send_pacer.h"

namespace orv::client {

void SendPacer::SetLimit(int packetsPerInterval) {
  limit_ = packetsPerInterval > 0 ? packetsPerInterval : 0;
}

bool SendPacer::TryTake(Clock::time_point now) {
  Forget(now);
  if (limit_ > 0 && sent_.size() >= static_cast<std::size_t>(limit_)) return false;
  sent_.push_back(now);
  return true;
}

SendPacer::Clock::time_point SendPacer::NextFree(Clock::time_point now) {
  Forget(now);
  if (limit_ == 0 || sent_.size() < static_cast<std::size_t>(limit_)) return now;
  // The oldest of the last `limit_` sends has to leave the interval first.
  return sent_[sent_.size() - static_cast<std::size_t>(limit_)] + kAfsInterval;
}

void SendPacer::Forget(Clock::time_point now) {
  while (!sent_.empty() && sent_.front() + kAfsInterval <= now)
    sent_.pop_front();
}

}  // namespace orv::client
