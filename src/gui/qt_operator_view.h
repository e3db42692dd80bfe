// The engine's OperatorView for the Qt window. Called on the engine thread; every call is
// re-posted, as values, to the window's thread and dropped if the window is gone.
#pragma once

#include <string>
#include <vector>

#include "server/operator_view.h"

namespace orv {

class OperatorWindow;

class QtOperatorView final : public OperatorView {
 public:
  explicit QtOperatorView(OperatorWindow& window) : window_(window) {}

  void ConsoleLineAppended(const std::string& line) override;
  void ConsoleCleared() override;
  void UserRowsReplaced(const std::vector<UserRow>& rows) override;
  void TooltipChanged(const std::string& text) override;
  void TitleChanged(const std::string& title) override;
  void TextsLoaded(const ViewTexts& texts) override;
  void CommandRefused(const std::string& reason) override;
  void StatusChanged(const ServerStatus& status) override;

 private:
  OperatorWindow& window_;
};

}  // namespace orv
