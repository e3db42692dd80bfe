// The engine's events for the Qt window. Called on the engine thread; every event is
// re-posted, as a value, to the window's thread and dropped if the window is gone.
#pragma once

#include "server/engine_event.h"

namespace orv {

class OperatorWindow;

class QtOperatorView final : public EventSubscriber {
 public:
  explicit QtOperatorView(OperatorWindow& window) : window_(window) {}

  void OnEvent(const EngineEvent& event) override;
  // The window keeps its list from whole snapshots, at the engine's refreshes.
  bool WantsUserEvents() const override { return false; }

 private:
  OperatorWindow& window_;
};

}  // namespace orv
