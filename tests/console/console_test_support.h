// Fakes shared by the console tests: a clock that stands still and a console view that
// records what it is asked to show.
#pragma once

#include <string>
#include <vector>

#include "console/clock.h"
#include "console/console_output.h"
#include "support/fixed_clock.h"
#include "support/temp_folder.h"

namespace orv::testing {

class FakeSink final : public ConsoleSink {
 public:
  void ConsoleLineAppended(const std::string& line) override { shown.push_back(line); }
  void ConsoleCleared() override {
    shown.clear();
    ++clears;
  }
  std::vector<std::string> shown;  // what the view holds since it was last cleared
  int clears = 0;
};

}  // namespace orv::testing
