// The stored blocks in a small window of the Windows operator window (app/blocks_model.h
// says what it holds): the list, Unblock and Close. It asks the engine for the list each time
// it opens and after each unblock, through the function it is given; the answers come back
// on the window's thread. UI thread only.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "app/blocks_model.h"

namespace orv {

class BlocksWindow {
 public:
  // Hands a command to the engine; what it comes to reaches ShowBlocks or ShowRefusal.
  using Execute = std::function<void(const OperatorCommand& command)>;

  explicit BlocksWindow(Execute execute) : execute_(std::move(execute)) {}
  ~BlocksWindow();
  BlocksWindow(const BlocksWindow&) = delete;
  BlocksWindow& operator=(const BlocksWindow&) = delete;

  // Shows the window over owner (made the first time) and asks for the list anew.
  void Open(HWND owner, HFONT font, int dpi);
  // The window, for the message loop's keyboard handling; null until first opened.
  HWND Handle() const { return window_; }

  // The engine's answers.
  void ShowBlocks(const std::vector<StoredBlock>& blocks);
  void ShowRefusal(const std::string& utf8Reason);

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  bool Create(HWND owner);
  void Layout();
  int Scaled(int pixels) const { return MulDiv(pixels, dpi_, 96); }

  Execute execute_;
  BlocksModel model_;
  HWND window_ = nullptr;
  HWND list_ = nullptr;
  HWND empty_ = nullptr;
  HWND unblock_ = nullptr;
  HWND close_ = nullptr;
  HFONT font_ = nullptr;
  int dpi_ = 96;
  bool showing_ = false;  // selections made while showing are the model's own
};

}  // namespace orv
