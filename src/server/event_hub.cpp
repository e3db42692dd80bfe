#include "server/event_hub.h"

#include <algorithm>

namespace orv {

EventHub::Id EventHub::Subscribe(std::shared_ptr<EventSubscriber> subscriber) {
  if (!subscriber) return 0;
  const Id id = next_++;
  subscribers_.emplace_back(id, std::move(subscriber));
  Recount();
  return id;
}

void EventHub::Unsubscribe(Id id) {
  std::erase_if(subscribers_, [id](const auto& entry) { return entry.first == id; });
  Recount();
}

void EventHub::Publish(const EngineEvent& event) {
  bool dropped = false;
  // A copy of the list: a subscriber may subscribe or unsubscribe others while it is told.
  const auto subscribers = subscribers_;
  for (const auto& [id, subscriber] : subscribers) {
    if (subscriber->Alive()) {
      subscriber->OnEvent(event);
    } else {
      dropped = true;
    }
  }
  if (dropped) {
    std::erase_if(subscribers_, [](const auto& entry) { return !entry.second->Alive(); });
    Recount();
  }
}

void EventHub::Recount() {
  wantsUserList_ = std::any_of(subscribers_.begin(), subscribers_.end(),
                               [](const auto& entry) { return entry.second->WantsUserList(); });
  wantsUserEvents_ = std::any_of(subscribers_.begin(), subscribers_.end(),
                                 [](const auto& entry) { return entry.second->WantsUserEvents(); });
}

}  // namespace orv
