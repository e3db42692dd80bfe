// What the engine tells whoever follows it, as values: console lines, users joining,
// changing and leaving, the whole list after a refresh, the status, and the texts and titles
// the windows show. The engine publishes each event to every subscriber (the windows, the
// headless console, control-socket followers, the web console) on its own thread; a
// subscriber that lives on another thread queues what it receives, bounded, and is dropped
// when it falls behind, so that no subscriber ever slows the engine.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "server/operator_values.h"

namespace orv {

namespace event {

// One console line, as shown (stamped "[HH:MM:SS] " when the line is an event's).
struct ConsoleLine {
  std::string text;
};
// The console view was emptied (it held more than MaxLineMessage lines).
struct ConsoleCleared {};
// A user appeared: its first packet on a connection.
struct UserJoined {
  UserRow user;
};
// Something the list shows of a user changed (name, address, status, block, AFS value).
struct UserChanged {
  UserRow user;
};
// A user is gone (its connection closed, or it was kicked).
struct UserLeft {
  UserRow user;
};
// The whole user list, in table order, after a refresh.
struct UserList {
  std::vector<UserRow> rows;
};
struct Status {
  ServerStatus status;
};
struct Title {
  std::string text;
};
struct Tooltip {
  std::string text;
};
// The language texts and the values the windows' headers and menus need, after the
// settings were (re)loaded.
struct Texts {
  ViewTexts texts;
};

}  // namespace event

using EngineEvent = std::variant<event::ConsoleLine, event::ConsoleCleared, event::UserJoined,
                                 event::UserChanged, event::UserLeft, event::UserList,
                                 event::Status, event::Title, event::Tooltip, event::Texts>;

class EventSubscriber {
 public:
  virtual ~EventSubscriber() = default;
  // Called on the engine thread, for every event; must not block. A subscriber on another
  // thread queues the event (see BoundedEventQueue) and returns.
  virtual void OnEvent(const EngineEvent& event) = 0;
  // Whether it wants UserList events (the engine builds the whole list at every refresh
  // only when somebody wants it: in a login storm that runs often, over every user).
  virtual bool WantsUserList() const { return true; }
  // Whether it wants UserJoined, UserChanged and UserLeft events.
  virtual bool WantsUserEvents() const { return true; }
  // false once it wants no more events (it fell behind, or its reader went away): the
  // engine then drops it.
  virtual bool Alive() const { return true; }
};

}  // namespace orv
