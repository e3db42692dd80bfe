// Records what the window asks of the engine.
#pragma once

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "app/engine_commands.h"

namespace orv {

struct RowCall {
  RowCommand command;
  int row;
  int afsValue;
  std::string mac;
  bool operator==(const RowCall&) const = default;
};

class FakeEngine final : public EngineCommands {
 public:
  void Send(std::string text) override { sent.push_back(std::move(text)); }
  void Refresh() override { ++refreshes; }
  void RunRowCommand(RowCommand command, int row, int afsValue, std::string mac) override {
    rowCalls.push_back({command, row, afsValue, std::move(mac)});
  }
  void UnblockRow(int row, std::string) override { unblocks.push_back(row); }
  void ListUsers(std::function<void(const std::vector<UserRow>&)>) override { ++userLists; }
  void Shutdown() override { ++shutdowns; }

  std::vector<std::string> sent;
  std::vector<RowCall> rowCalls;
  std::vector<int> unblocks;
  int userLists = 0;
  int refreshes = 0;
  int shutdowns = 0;
};

}  // namespace orv
