// The engine's subscribers and the publishing of events to them, on the engine thread.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "server/engine_event.h"

namespace orv {

class EventHub {
 public:
  using Id = std::uint64_t;

  // The subscriber gets every event published from now on, until it is unsubscribed or no
  // longer Alive().
  Id Subscribe(std::shared_ptr<EventSubscriber> subscriber);
  void Unsubscribe(Id id);

  void Publish(const EngineEvent& event);
  // Whether any subscriber wants whole lists, or user events: the engine builds them only
  // then.
  bool WantsUserList() const { return wantsUserList_; }
  bool WantsUserEvents() const { return wantsUserEvents_; }
  std::size_t Count() const { return subscribers_.size(); }

 private:
  void Recount();

  std::vector<std::pair<Id, std::shared_ptr<EventSubscriber>>> subscribers_;
  Id next_ = 1;
  bool wantsUserList_ = false;
  bool wantsUserEvents_ = false;
};

}  // namespace orv
