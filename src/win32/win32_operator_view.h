// The engine's OperatorView for the Windows window. Called on the engine thread; every call
// is posted, as values, to the window's thread in a heap-allocated report the window runs
// and frees, or freed here when the window is gone.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "server/operator_view.h"

namespace orv {

class Win32OperatorView final : public OperatorView {
 public:
  explicit Win32OperatorView(HWND window) : window_(window) {}

  void ConsoleLineAppended(const std::string& line) override;
  void ConsoleCleared() override;
  void UserRowsReplaced(const std::vector<UserRow>& rows) override;
  void TooltipChanged(const std::string& text) override;
  void TitleChanged(const std::string& title) override;
  void TextsLoaded(const ViewTexts& texts) override;
  void CommandRefused(const std::string& reason) override;
  void StatusChanged(const ServerStatus& status) override;

 private:
  HWND window_;
};

}  // namespace orv
