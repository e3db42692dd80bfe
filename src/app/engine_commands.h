// What a front-end asks of the engine: the operator's commands, as values, and its events
// from some moment on. Every front-end (the windows, the headless console, the control
// socket, the web console) goes through this; HostCommands hands each command to the engine
// thread, test fakes record them. No implementation touches engine state outside the engine
// thread.
#pragma once

#include <functional>
#include <memory>

#include "server/engine_event.h"
#include "server/operator_command.h"

namespace orv {

// Gets a command's outcome, on the engine thread.
using OutcomeHandler = std::function<void(Outcome)>;

class EngineCommands {
 public:
  virtual ~EngineCommands() = default;
  // Hands command to the engine, in the order of the calls; done (when given) gets its
  // outcome.
  virtual void Execute(OperatorCommand command, OutcomeHandler done = {}) = 0;
  // The engine's events from now on go to subscriber too (on the engine thread: one that
  // lives elsewhere is an EventQueue), until it is no longer Alive(). Queued like a command:
  // the outcome of a command given after this call comes after the subscriber is in. An
  // engine that publishes nothing (a test's fake of commands only) ignores it.
  virtual void Subscribe(std::shared_ptr<EventSubscriber> subscriber) { (void)subscriber; }
  // Sends the close message, lets the output drain and stops the engine. Blocks; a second
  // call does nothing.
  virtual void Shutdown() = 0;
};

}  // namespace orv
