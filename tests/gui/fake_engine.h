// Records what the window asks of the engine.
#pragma once

#include <string>
#include <tuple>
#include <vector>

#include "gui/engine_commands.h"

namespace orv {

struct RowCall {
  RowCommand command;
  int row;
  int afsValue;
  bool operator==(const RowCall&) const = default;
};

class FakeEngine final : public EngineCommands {
 public:
  void Send(std::string text) override { sent.push_back(std::move(text)); }
  void Refresh() override { ++refreshes; }
  void RunRowCommand(RowCommand command, int row, int afsValue) override {
    rowCalls.push_back({command, row, afsValue});
  }
  void Shutdown() override { ++shutdowns; }

  std::vector<std::string> sent;
  std::vector<RowCall> rowCalls;
  int refreshes = 0;
  int shutdowns = 0;
};

}  // namespace orv
