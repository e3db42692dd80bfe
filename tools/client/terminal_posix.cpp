// The chat screen on a POSIX terminal, through ncurses (wide characters): ncurses knows each
// terminal's keys and sequences from terminfo and sends only what changed between frames.
#include "terminal.h"

// After Asio (through terminal.h), and without the macros that would shadow names of its.
#define NCURSES_NOMACROS 1
#include <curses.h>
#include <langinfo.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <clocale>
#include <cstdlib>
#include <cstring>

namespace orv::client {

namespace {

class CursesTerminal final : public Terminal {
 public:
  explicit CursesTerminal(asio::io_context& io)
      : input_(io), signals_(io, SIGWINCH, SIGHUP, SIGTERM) {
    signals_.add(SIGINT);
  }
  ~CursesTerminal() override { Close(); }

  bool Open(std::string* error) {
    // The wire's code page reaches the terminal as UTF-8; ncurses needs a UTF-8 locale to
    // write and read it, whatever the environment names.
    std::setlocale(LC_ALL, "");
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) std::setlocale(LC_CTYPE, "C.UTF-8");
    screen_ = newterm(nullptr, stdout, stdin);
    if (screen_ == nullptr) {
      const char* term = std::getenv("TERM");
      *error = std::string("cannot use the terminal (TERM=") + (term ? term : "") + ")";
      return false;
    }
    const char* place = tigetstr("cup");
    if (place == nullptr || place == reinterpret_cast<const char*>(-1)) {
      // A terminal that cannot place the cursor (TERM=dumb, an editor's shell buffer).
      endwin();
      delscreen(screen_);
      screen_ = nullptr;
      const char* term = std::getenv("TERM");
      *error =
          std::string("the terminal (TERM=") + (term ? term : "") + ") cannot place the cursor";
      return false;
    }
    raw();  // Ctrl+C and Ctrl+Z reach the client as keys instead of stopping it mid-frame
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    set_escdelay(25);
    const char* noColor = std::getenv("NO_COLOR");
    colour_ = has_colors() && !(noColor != nullptr && noColor[0] != '\0');
    if (colour_) {
      start_color();
      const short background = use_default_colors() == OK ? -1 : COLOR_BLACK;
      static constexpr std::array<short, 7> kCurses = {
          -1, COLOR_RED, COLOR_GREEN, COLOR_YELLOW, COLOR_BLUE, COLOR_MAGENTA, COLOR_CYAN};
      for (short pair = 1; pair < static_cast<short>(kCurses.size()); ++pair)
        init_pair(pair, kCurses[static_cast<std::size_t>(pair)], background);
    }
    // Ctrl with the arrows, where terminfo knows the sequences (xterm and its kin).
    wordLeft_ = ExtendedKey("kLFT5");
    wordRight_ = ExtendedKey("kRIT5");
    input_.assign(::dup(STDIN_FILENO));
    open_ = true;
    return true;
  }

  void Start(Handlers handlers) override {
    handlers_ = std::move(handlers);
    WaitForInput();
    WaitForSignal();
  }

  int Rows() override { return getmaxy(stdscr); }
  int Cols() override { return getmaxx(stdscr); }
  bool Colour() const override { return colour_; }

  void Draw(const Frame& frame) override {
    if (!open_) return;
    const int rows = std::min(frame.rows, Rows());
    const int cols = std::min(frame.cols, Cols());
    for (int row = 0; row < rows; ++row) {
      for (int col = 0; col < cols; ++col) {
        const Cell& cell = frame.At(row, col);
        wchar_t text[2] = {static_cast<wchar_t>(cell.ch), L'\0'};
        attr_t attributes = A_NORMAL;
        if (cell.style.bold) attributes |= A_BOLD;
        if (cell.style.dim) attributes |= A_DIM;
        if (cell.style.reverse) attributes |= A_REVERSE;
        const short pair = colour_ ? static_cast<short>(cell.style.colour) : 0;
        cchar_t character;
        setcchar(&character, text, attributes, pair, nullptr);
        mvwadd_wch(stdscr, row, col, &character);
      }
    }
    wmove(stdscr, std::min(frame.cursorRow, rows - 1), std::min(frame.cursorCol, cols - 1));
    wrefresh(stdscr);
  }

  void Close() override {
    if (!open_) return;
    open_ = false;
    asio::error_code ignored;
    input_.cancel(ignored);
    input_.close(ignored);
    signals_.cancel(ignored);
    endwin();
    delscreen(screen_);
    screen_ = nullptr;
  }

 private:
  static int ExtendedKey(const char* name) {
    const char* sequence = tigetstr(name);
    if (sequence == nullptr || sequence == reinterpret_cast<const char*>(-1)) return 0;
    const int code = key_defined(sequence);
    return code > 0 ? code : 0;
  }

  void WaitForInput() {
    input_.async_wait(asio::posix::descriptor_base::wait_read, [this](const asio::error_code& ec) {
      if (ec || !open_) return;
      if (!ReadKeys()) {
        // Readable again and again without a key: the terminal is gone.
        if (++emptyWakeUps_ > 50) {
          handlers_.hangUp();
          return;
        }
      } else {
        emptyWakeUps_ = 0;
      }
      if (open_) WaitForInput();
    });
  }

  void WaitForSignal() {
    signals_.async_wait([this](const asio::error_code& ec, int number) {
      if (ec || !open_) return;
      if (number == SIGWINCH) {
        winsize size{};
        if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0)
          resizeterm(size.ws_row, size.ws_col);
        handlers_.resized();
      } else {
        handlers_.hangUp();
      }
      if (open_) WaitForSignal();
    });
  }

  // Every key waiting; false when there was none.
  bool ReadKeys() {
    bool any = false;
    for (;;) {
      wint_t c = 0;
      const int kind = wget_wch(stdscr, &c);
      if (kind == ERR) break;
      any = true;
      if (kind == KEY_CODE_YES) {
        Special(static_cast<int>(c));
      } else {
        Character(static_cast<char32_t>(c));
      }
      if (!open_) break;
    }
    return any;
  }

  void Special(int code) {
    using Code = Key::Code;
    Code mapped;
    switch (code) {
      case KEY_ENTER:
        mapped = Code::kEnter;
        break;
      case KEY_BACKSPACE:
        mapped = Code::kBackspace;
        break;
      case KEY_DC:
        mapped = Code::kDelete;
        break;
      case KEY_LEFT:
        mapped = Code::kLeft;
        break;
      case KEY_RIGHT:
        mapped = Code::kRight;
        break;
      case KEY_HOME:
        mapped = Code::kHome;
        break;
      case KEY_END:
        mapped = Code::kEnd;
        break;
      case KEY_UP:
        mapped = Code::kUp;
        break;
      case KEY_DOWN:
        mapped = Code::kDown;
        break;
      case KEY_PPAGE:
        mapped = Code::kPageUp;
        break;
      case KEY_NPAGE:
        mapped = Code::kPageDown;
        break;
      case KEY_RESIZE:
        handlers_.resized();
        return;
      default:
        if (code != 0 && code == wordLeft_) {
          mapped = Code::kWordLeft;
        } else if (code != 0 && code == wordRight_) {
          mapped = Code::kWordRight;
        } else {
          return;  // function keys and the like do nothing
        }
    }
    handlers_.key({mapped, 0});
  }

  void Character(char32_t c) {
    using Code = Key::Code;
    if (c == U'\r' || c == U'\n') {
      handlers_.key({Code::kEnter, 0});
    } else if (c == U'\t') {
      handlers_.key({Code::kTab, 0});
    } else if (c == 0x7F || c == 0x08) {
      handlers_.key({Code::kBackspace, 0});
    } else if (c == 0x1B) {
      handlers_.key({Code::kEscape, 0});
    } else if (c >= 1 && c <= 26) {
      handlers_.key({Code::kControl, U'a' + (c - 1)});
    } else if (c >= 0x20 && !(c >= 0x7F && c < 0xA0)) {
      handlers_.key({Code::kChar, c});
    }
    // Other control characters are no keys.
  }

  asio::posix::stream_descriptor input_;
  asio::signal_set signals_;
  SCREEN* screen_ = nullptr;
  Handlers handlers_;
  bool open_ = false;
  bool colour_ = false;
  int wordLeft_ = 0;
  int wordRight_ = 0;
  int emptyWakeUps_ = 0;
};

}  // namespace

bool IsInteractiveTerminal() {
  return ::isatty(STDIN_FILENO) == 1 && ::isatty(STDOUT_FILENO) == 1;
}

std::unique_ptr<Terminal> OpenTerminal(asio::io_context& io, std::string* error) {
  auto terminal = std::make_unique<CursesTerminal>(io);
  if (!terminal->Open(error)) return nullptr;
  return terminal;
}

}  // namespace orv::client
