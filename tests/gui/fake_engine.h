// Records what the window asks of the engine: texts sent, refreshes, the user commands in
// words ("kick AA01", "block AA01 by IP") and stops.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "app/engine_commands.h"

namespace orv {

class FakeEngine final : public EngineCommands {
 public:
  void Execute(OperatorCommand command, OutcomeHandler done = {}) override {
    if (const auto* send = std::get_if<command::Send>(&command)) {
      sent.push_back(send->text);
    } else if (std::holds_alternative<command::Refresh>(command)) {
      ++refreshes;
    } else {
      userCommands.push_back(Describe(command));
    }
    if (done) done(next);
  }
  void Shutdown() override { ++shutdowns; }

  Outcome next;  // what the next commands come to
  std::vector<std::string> sent;
  std::vector<std::string> userCommands;
  int refreshes = 0;
  int shutdowns = 0;
};

}  // namespace orv
