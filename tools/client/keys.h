// A key as the chat client's terminal layer reports it, the same on every system.
#pragma once

namespace orv::client {

struct Key {
  enum class Code {
    kChar,     // ch is the character typed
    kControl,  // ch is the letter held with Ctrl ('a' to 'z')
    kEnter,
    kBackspace,
    kDelete,
    kLeft,
    kRight,
    kWordLeft,
    kWordRight,
    kHome,
    kEnd,
    kUp,
    kDown,
    kPageUp,
    kPageDown,
    kTab,
    kEscape,
  };
  Code code = Code::kChar;
  char32_t ch = 0;
};

}  // namespace orv::client
