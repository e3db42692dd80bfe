// Engine commands for the control channel's tests: answers as an engine would, and records
// what it was asked.
#pragma once

#include <string>
#include <vector>

#include "app/engine_commands.h"

namespace orv::testing {

class FakeCommands final : public EngineCommands {
 public:
  void Send(std::string text) override { sent.push_back(std::move(text)); }
  void Refresh() override { ++refreshes; }
  void RunRowCommand(RowCommand command, int row, int, std::string) override {
    rowCommands.push_back({command, row});
  }
  void UnblockRow(int row, std::string) override { unblocked.push_back(row); }
  void ListUsers(std::function<void(const std::vector<UserRow>&)> show) override { show(rows); }
  void Shutdown() override {}

  void Status(std::function<void(const ServerStatus&)> show) override { show(status); }
  void SendAnswered(std::string text, OutcomeHandler done) override {
    const bool sendable = text.size() >= 2;
    sent.push_back(text);
    done({true, sendable ? std::vector<std::string>{"[10:00:00] Operator message: " + text}
                         : std::vector<std::string>{}});
  }
  // Finds the user among rows and answers as the engine does, with what it did or why not.
  void RunUserCommandAnswered(RowCommand command, int, UserFinder find,
                              OutcomeHandler done) override {
    const int row = find(rows);
    if (row < 0) {
      done({false, {}});
      return;
    }
    rowCommands.push_back({command, row});
    if (command == RowCommand::kBlockIp &&
        rows[static_cast<std::size_t>(row)].blockState != BlockState::kNone) {
      done({false, {"The user in row " + std::to_string(row) + " is blocked already."}});
    } else {
      done({true,
            {"[10:00:00] Kicked user at 10.0.0.7 (" + rows[static_cast<std::size_t>(row)].name +
             ")"}});
    }
  }
  void UnblockUserAnswered(UserFinder find, OutcomeHandler done) override {
    const int row = find(rows);
    if (row >= 0) unblocked.push_back(row);
    done({row >= 0, {}});
  }
  void Reload(OutcomeHandler done) override {
    ++reloads;
    done({reloadWorks, {reloadWorks ? "[10:00:00] Settings reloaded" : "[10:00:00] bad port"}});
  }

  std::vector<UserRow> rows;
  ServerStatus status;
  bool reloadWorks = true;
  std::vector<std::string> sent;
  std::vector<std::pair<RowCommand, int>> rowCommands;
  std::vector<int> unblocked;
  int refreshes = 0;
  int reloads = 0;
};

}  // namespace orv::testing
