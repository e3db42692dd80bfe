// The chat screen on the Windows console, through its own API: a screen buffer of the
// client's own (the console's text is there again afterwards), frames written as cells in
// UTF-16, keys read as input records the moment the console's input handle is signalled.
#include "terminal.h"

// After Asio (through terminal.h), which brings winsock2.h first.
#include <windows.h>

#include <cstdlib>
#include <vector>

namespace orv::client {

namespace {

class ConsoleTerminal final : public Terminal {
 public:
  explicit ConsoleTerminal(asio::io_context& io) : input_(io) {}
  ~ConsoleTerminal() override { Close(); }

  bool Open(std::string* error) {
    in_ = GetStdHandle(STD_INPUT_HANDLE);
    out_ = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleMode(in_, &inputMode_) || !GetConsoleScreenBufferInfo(out_, &info)) {
      *error = "cannot use the console";
      return false;
    }
    normal_ = info.wAttributes;
    const SHORT width = static_cast<SHORT>(info.srWindow.Right - info.srWindow.Left + 1);
    const SHORT height = static_cast<SHORT>(info.srWindow.Bottom - info.srWindow.Top + 1);
    screen_ =
        CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
    if (screen_ == INVALID_HANDLE_VALUE) {
      *error = "cannot make a console screen buffer";
      return false;
    }
    Fit(width, height);
    SetConsoleActiveScreenBuffer(screen_);
    // Ctrl+C arrives as a key (the client quits in order); the window's size changes are
    // reported; selecting text with the mouse stays as the user had it.
    SetConsoleMode(
        in_, ENABLE_WINDOW_INPUT | ENABLE_EXTENDED_FLAGS | (inputMode_ & ENABLE_QUICK_EDIT_MODE));
    HANDLE waitable = nullptr;
    if (DuplicateHandle(GetCurrentProcess(), in_, GetCurrentProcess(), &waitable, 0, FALSE,
                        DUPLICATE_SAME_ACCESS)) {
      input_.assign(waitable);
    }
    const char* noColor = std::getenv("NO_COLOR");
    colour_ = !(noColor != nullptr && noColor[0] != '\0');
    open_ = true;
    return true;
  }

  void Start(Handlers handlers) override {
    handlers_ = std::move(handlers);
    WaitForInput();
  }

  int Rows() override { return Window().Y; }
  int Cols() override { return Window().X; }
  bool Colour() const override { return colour_; }

  void Draw(const Frame& frame) override {
    if (!open_) return;
    const COORD window = Window();
    if (window.X != size_.X || window.Y != size_.Y) Fit(window.X, window.Y);
    const int rows = std::min<int>(frame.rows, size_.Y);
    const int cols = std::min<int>(frame.cols, size_.X);
    if (rows <= 0 || cols <= 0) return;
    std::vector<CHAR_INFO> cells(static_cast<std::size_t>(rows * cols));
    for (int row = 0; row < rows; ++row) {
      for (int col = 0; col < cols; ++col) {
        const Cell& cell = frame.At(row, col);
        CHAR_INFO& out = cells[static_cast<std::size_t>(row * cols + col)];
        // Everything the screen shows lies in the Basic Multilingual Plane.
        out.Char.UnicodeChar = cell.ch < 0x10000 ? static_cast<WCHAR>(cell.ch) : L'?';
        out.Attributes = Attributes(cell.style);
      }
    }
    SMALL_RECT region{0, 0, static_cast<SHORT>(cols - 1), static_cast<SHORT>(rows - 1)};
    WriteConsoleOutputW(screen_, cells.data(),
                        COORD{static_cast<SHORT>(cols), static_cast<SHORT>(rows)}, COORD{0, 0},
                        &region);
    SetConsoleCursorPosition(screen_,
                             COORD{static_cast<SHORT>(std::min(frame.cursorCol, cols - 1)),
                                   static_cast<SHORT>(std::min(frame.cursorRow, rows - 1))});
  }

  void Close() override {
    if (!open_) return;
    open_ = false;
    asio::error_code ignored;
    input_.cancel(ignored);
    input_.close(ignored);
    SetConsoleActiveScreenBuffer(out_);
    CloseHandle(screen_);
    SetConsoleMode(in_, inputMode_);
  }

 private:
  // The visible part of the client's buffer.
  COORD Window() const {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(screen_, &info)) return size_;
    return COORD{static_cast<SHORT>(info.srWindow.Right - info.srWindow.Left + 1),
                 static_cast<SHORT>(info.srWindow.Bottom - info.srWindow.Top + 1)};
  }

  // The buffer as large as the window, so nothing scrolls under the screen.
  void Fit(SHORT width, SHORT height) {
    SMALL_RECT window{0, 0, static_cast<SHORT>(width - 1), static_cast<SHORT>(height - 1)};
    SetConsoleWindowInfo(screen_, TRUE, &window);
    SetConsoleScreenBufferSize(screen_, COORD{width, height});
    SetConsoleWindowInfo(screen_, TRUE, &window);
    size_ = COORD{width, height};
  }

  WORD Attributes(const Style& style) const {
    const WORD background = normal_ & 0xF0;
    WORD foreground = normal_ & 0x0F;
    if (colour_) {
      switch (style.colour) {
        case Colour::kDefault:
          break;
        case Colour::kRed:
          foreground = FOREGROUND_RED;
          break;
        case Colour::kGreen:
          foreground = FOREGROUND_GREEN;
          break;
        case Colour::kYellow:
          foreground = FOREGROUND_RED | FOREGROUND_GREEN;
          break;
        case Colour::kBlue:
          foreground = FOREGROUND_BLUE | FOREGROUND_INTENSITY;  // a blue that reads on black
          break;
        case Colour::kMagenta:
          foreground = FOREGROUND_RED | FOREGROUND_BLUE;
          break;
        case Colour::kCyan:
          foreground = FOREGROUND_GREEN | FOREGROUND_BLUE;
          break;
      }
    }
    if (style.bold) foreground |= FOREGROUND_INTENSITY;
    if (style.dim) foreground = FOREGROUND_INTENSITY;  // dark grey
    if (style.reverse) return static_cast<WORD>((foreground << 4) | (background >> 4));
    return static_cast<WORD>(background | foreground);
  }

  void WaitForInput() {
    input_.async_wait([this](const asio::error_code& ec) {
      if (ec || !open_) return;
      ReadEvents();
      if (open_) WaitForInput();
    });
  }

  void ReadEvents() {
    DWORD waiting = 0;
    while (open_ && GetNumberOfConsoleInputEvents(in_, &waiting) && waiting > 0) {
      INPUT_RECORD records[64];
      DWORD count = 0;
      if (!ReadConsoleInputW(in_, records, 64, &count)) {
        handlers_.hangUp();
        return;
      }
      for (DWORD i = 0; i < count && open_; ++i) {
        if (records[i].EventType == WINDOW_BUFFER_SIZE_EVENT) {
          handlers_.resized();
        } else if (records[i].EventType == KEY_EVENT && records[i].Event.KeyEvent.bKeyDown) {
          const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
          for (WORD n = 0; n < std::max<WORD>(key.wRepeatCount, 1) && open_; ++n)
            Translate(key);
        }
      }
    }
  }

  void Translate(const KEY_EVENT_RECORD& key) {
    using Code = Key::Code;
    const bool control = (key.dwControlKeyState & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED)) != 0;
    switch (key.wVirtualKeyCode) {
      case VK_RETURN:
        return handlers_.key({Code::kEnter, 0});
      case VK_BACK:
        return handlers_.key({Code::kBackspace, 0});
      case VK_DELETE:
        return handlers_.key({Code::kDelete, 0});
      case VK_LEFT:
        return handlers_.key({control ? Code::kWordLeft : Code::kLeft, 0});
      case VK_RIGHT:
        return handlers_.key({control ? Code::kWordRight : Code::kRight, 0});
      case VK_HOME:
        return handlers_.key({Code::kHome, 0});
      case VK_END:
        return handlers_.key({Code::kEnd, 0});
      case VK_UP:
        return handlers_.key({Code::kUp, 0});
      case VK_DOWN:
        return handlers_.key({Code::kDown, 0});
      case VK_PRIOR:
        return handlers_.key({Code::kPageUp, 0});
      case VK_NEXT:
        return handlers_.key({Code::kPageDown, 0});
      case VK_TAB:
        return handlers_.key({Code::kTab, 0});
      case VK_ESCAPE:
        return handlers_.key({Code::kEscape, 0});
      default:
        break;
    }
    const wchar_t c = key.uChar.UnicodeChar;
    if (c >= 1 && c <= 26) {
      handlers_.key({Code::kControl, static_cast<char32_t>(U'a' + (c - 1))});
    } else if (c >= 0x20 && !(c >= 0xD800 && c <= 0xDFFF)) {
      // Half of a surrogate pair is no character the chat can carry anyway.
      handlers_.key({Code::kChar, static_cast<char32_t>(c)});
    }
  }

  asio::windows::object_handle input_;
  HANDLE in_ = INVALID_HANDLE_VALUE;
  HANDLE out_ = INVALID_HANDLE_VALUE;
  HANDLE screen_ = INVALID_HANDLE_VALUE;
  DWORD inputMode_ = 0;
  WORD normal_ = FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE;
  COORD size_{80, 25};
  Handlers handlers_;
  bool open_ = false;
  bool colour_ = true;
};

}  // namespace

bool IsInteractiveTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) &&
         GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode);
}

std::unique_ptr<Terminal> OpenTerminal(asio::io_context& io, std::string* error) {
  auto terminal = std::make_unique<ConsoleTerminal>(io);
  if (!terminal->Open(error)) return nullptr;
  return terminal;
}

}  // namespace orv::client
