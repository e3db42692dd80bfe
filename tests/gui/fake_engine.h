// Records what the window asks of the engine: texts sent, refreshes, the user commands in
// words ("kick AA01", "block AA01 by IP", "blocks", "unblock-entry 10.0.0.7") and stops. It
// keeps a block list of its own for the Blocks dialog.
#pragma once

#include <algorithm>
#include <string>
#include <variant>
#include <vector>

#include "app/engine_commands.h"

namespace orv {

class FakeEngine final : public EngineCommands {
 public:
  void Execute(OperatorCommand command, OutcomeHandler done = {}) override {
    Outcome outcome = next;
    if (const auto* send = std::get_if<command::Send>(&command)) {
      sent.push_back(send->text);
    } else if (std::holds_alternative<command::Refresh>(command)) {
      ++refreshes;
    } else {
      userCommands.push_back(Describe(command));
    }
    if (std::holds_alternative<command::Blocks>(command)) outcome.blocks = blocks;
    if (const auto* entry = std::get_if<command::UnblockEntry>(&command)) {
      const auto found = std::find_if(blocks.begin(), blocks.end(),
                                      [&](const StoredBlock& b) { return b.key == entry->key; });
      if (found != blocks.end()) {
        blocks.erase(found);
      } else {
        outcome.done = false;
        outcome.lines = {"The block list holds no block for " + entry->key + "."};
      }
    }
    if (done) done(outcome);
  }
  void Shutdown() override { ++shutdowns; }

  Outcome next;  // what the next commands come to
  std::vector<StoredBlock> blocks;
  std::vector<std::string> sent;
  std::vector<std::string> userCommands;
  int refreshes = 0;
  int shutdowns = 0;
};

}  // namespace orv
