// Engine commands for the front-ends' tests: answers as an engine would, and records what it
// was asked ("kick AA01", "block AA01", "afs AA01 20", "unblock AA01", "unblock-entry bob").
// Its subscribers get what the test publishes, as the engine's would.
#pragma once

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "app/engine_commands.h"
#include "server/event_hub.h"

namespace orv::testing {

class FakeCommands final : public EngineCommands {
 public:
  void Execute(OperatorCommand command, OutcomeHandler done = {}) override {
    Outcome outcome = Answer(command);
    commands.push_back(command);
    if (done) done(std::move(outcome));
  }
  void Shutdown() override {}
  void Subscribe(std::shared_ptr<EventSubscriber> subscriber) override {
    std::lock_guard lock(hubMutex_);
    hub_.Subscribe(std::move(subscriber));
  }

  // Publishes event to the subscribers, from the test's thread standing in for the engine's.
  void Publish(const EngineEvent& event) {
    std::lock_guard lock(hubMutex_);
    hub_.Publish(event);
  }
  // The subscribers held (one that is no longer Alive() is let go of at the next event).
  std::size_t Subscribers() {
    std::lock_guard lock(hubMutex_);
    return hub_.Count();
  }

  std::vector<UserRow> rows;
  std::vector<StoredBlock> blocks;
  ServerStatus status;
  bool reloadWorks = true;
  std::vector<OperatorCommand> commands;
  std::vector<std::string> sent;
  std::vector<std::string> userCommands;
  int refreshes = 0;
  int reloads = 0;

 private:
  const UserRow* Find(const std::string& mac) const {
    for (const UserRow& row : rows) {
      if (row.mac == mac) return &row;
    }
    return nullptr;
  }

  Outcome Answer(const OperatorCommand& command) {
    return std::visit(
        [this](const auto& c) -> Outcome {
          using C = std::decay_t<decltype(c)>;
          Outcome outcome;
          if constexpr (std::is_same_v<C, command::Users>) {
            outcome.users = rows;
          } else if constexpr (std::is_same_v<C, command::Status>) {
            outcome.status = status;
          } else if constexpr (std::is_same_v<C, command::Blocks>) {
            outcome.blocks = blocks;
          } else if constexpr (std::is_same_v<C, command::UnblockEntry>) {
            const auto entry = std::find_if(blocks.begin(), blocks.end(),
                                            [&c](const StoredBlock& b) { return b.key == c.key; });
            if (entry == blocks.end()) {
              outcome.done = false;
              outcome.lines = {"The block list holds no block for " + c.key + "."};
            } else {
              blocks.erase(entry);
              userCommands.push_back("unblock-entry " + c.key);
              outcome.lines = {"Block list entry lifted: " + c.key};
            }
          } else if constexpr (std::is_same_v<C, command::Send>) {
            sent.push_back(c.text);
            if (c.text.size() >= 2) outcome.lines = {"Operator message: " + c.text};
          } else if constexpr (std::is_same_v<C, command::Refresh>) {
            ++refreshes;
          } else if constexpr (std::is_same_v<C, command::Reload>) {
            ++reloads;
            outcome.done = reloadWorks;
            outcome.lines = {reloadWorks ? "Settings reloaded" : "bad port"};
          } else if constexpr (std::is_same_v<C, command::Kick> ||
                               std::is_same_v<C, command::Block> ||
                               std::is_same_v<C, command::Unblock> ||
                               std::is_same_v<C, command::SetAfs>) {
            const UserRow* user = Find(c.mac);
            if (user == nullptr) {
              outcome.done = false;
              outcome.noSuchUser = true;
              outcome.lines = {"No user with MAC " + c.mac + " is online."};
              return outcome;
            }
            if constexpr (std::is_same_v<C, command::Kick>) {
              userCommands.push_back("kick " + c.mac);
              outcome.lines = {"Kicked user at 10.0.0.7 (" + user->name + ")"};
            } else if constexpr (std::is_same_v<C, command::Block>) {
              userCommands.push_back("block " + c.mac);
              if (user->blockState != BlockState::kNone) {
                outcome.done = false;
                outcome.lines = {"The user with MAC " + c.mac + " is blocked already."};
              }
            } else if constexpr (std::is_same_v<C, command::Unblock>) {
              userCommands.push_back("unblock " + c.mac);
            } else {
              userCommands.push_back("afs " + c.mac + " " + std::to_string(c.value));
            }
          }
          return outcome;
        },
        command);
  }

  std::mutex hubMutex_;
  EventHub hub_;
};

}  // namespace orv::testing
