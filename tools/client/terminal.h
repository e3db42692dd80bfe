// The terminal under the interactive chat client: draws frames, reports keys and size
// changes on the network thread's io_context, and gives the terminal back as it found it.
// terminal_posix.cpp draws through ncurses; terminal_win32.cpp through the Windows console.
#pragma once

#include <asio.hpp>
#include <functional>
#include <memory>
#include <string>

#include "chat_screen.h"
#include "keys.h"

namespace orv::client {

class Terminal {
 public:
  struct Handlers {
    std::function<void(const Key&)> key;
    std::function<void()> resized;
    std::function<void()> hangUp;  // the terminal went away, or the program was asked to end
  };

  virtual ~Terminal() = default;
  // Starts reporting keys and changes through handlers (on the io_context's thread).
  virtual void Start(Handlers handlers) = 0;
  virtual int Rows() = 0;
  virtual int Cols() = 0;
  virtual void Draw(const Frame& frame) = 0;
  // Gives the terminal back (also done by the destructor).
  virtual void Close() = 0;
  // Whether names are drawn in colour: the terminal can, and NO_COLOR is not set.
  virtual bool Colour() const = 0;
};

// Whether standard input and output are an interactive terminal the chat screen can use.
bool IsInteractiveTerminal();

// Takes over the terminal; nothing, with error set, when it cannot.
std::unique_ptr<Terminal> OpenTerminal(asio::io_context& io, std::string* error);

}  // namespace orv::client
