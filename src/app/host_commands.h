// The operator's commands handed to a running engine: each is queued on the engine thread in
// the order the calls were made.
#pragma once

#include "app/engine_commands.h"
#include "net/engine_host.h"

namespace orv {

class HostCommands final : public EngineCommands {
 public:
  // host may be given later (Attach) when it is made after the front-end; commands before
  // that are refused.
  explicit HostCommands(EngineHost* host = nullptr) : host_(host) {}
  void Attach(EngineHost& host) { host_ = &host; }

  void Execute(OperatorCommand command, OutcomeHandler done = {}) override;
  void Subscribe(std::shared_ptr<EventSubscriber> subscriber) override;
  void Shutdown() override;

 private:
  EngineHost* host_;
};

}  // namespace orv
