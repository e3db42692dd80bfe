// A console view for tests: records what it is asked to show.
#pragma once

#include <string>
#include <vector>

#include "console/console_output.h"

namespace orv::testing {

class RecordingSink final : public ConsoleSink {
 public:
  void ConsoleLineAppended(const std::string& line) override {
    shown.push_back(line);
    all.push_back(line);
  }
  void ConsoleCleared() override {
    shown.clear();
    ++clears;
  }
  std::vector<std::string> shown;  // what the view holds since it was last cleared
  std::vector<std::string> all;    // every line, clears or not
  int clears = 0;
};

}  // namespace orv::testing
