// The chat client's screen, laid out as cells: the conversation with its scrollback, a
// side pane of who is online when the terminal is wide enough, a status bar and the input
// line. Terminals only copy the cells out, so the layout is the same on every system and
// can be tested without one. Every character shown takes one cell: the client only shows
// what the wire's code page holds, ASCII and the client's own texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "chat_line.h"
#include "line_editor.h"

namespace orv::client {

enum class Colour : std::uint8_t { kDefault, kRed, kGreen, kYellow, kBlue, kMagenta, kCyan };

struct Style {
  Colour colour = Colour::kDefault;
  bool bold = false;
  bool dim = false;
  bool reverse = false;
  friend bool operator==(const Style&, const Style&) = default;
};

struct Cell {
  char32_t ch = U' ';
  Style style;
};

struct Frame {
  int rows = 0;
  int cols = 0;
  std::vector<Cell> cells;  // row by row
  int cursorRow = 0;
  int cursorCol = 0;

  Cell& At(int row, int col) { return cells[static_cast<std::size_t>(row * cols + col)]; }
  const Cell& At(int row, int col) const {
    return cells[static_cast<std::size_t>(row * cols + col)];
  }
  // A row's characters as UTF-8, blanks at its end cut off.
  std::string RowText(int row) const;
};

// UTF-8 to characters and back; a byte that begins no character becomes U+FFFD.
std::u32string DecodeUtf8(std::string_view text);
std::string EncodeUtf8(std::u32string_view text);

// The colour a name is drawn in: the same name, the same colour, every time.
Colour NameColour(std::string_view name);

// One entry of the side pane.
struct PaneEntry {
  std::string name;  // UTF-8, safe to show
  bool own = false;
  bool away = false;  // shown fainter
};

class ChatScreen {
 public:
  static constexpr std::size_t kScrollback = 5000;  // lines kept
  static constexpr int kPaneFrom = 72;              // the side pane shows from this width

  explicit ChatScreen(bool colour);

  // A line of the conversation and the time it arrived ("HH:MM").
  void Add(const ChatLine& line, std::string_view stamp);
  void SetPane(std::vector<PaneEntry> entries, std::string heading);
  void SetStatus(std::string text) { status_ = std::move(text); }
  void SetHint(std::string text) { hint_ = std::move(text); }

  void PageUp();
  void PageDown();
  void ScrollToEnd() { offset_ = 0; }
  bool scrolledBack() const { return offset_ > 0; }

  Frame Render(int rows, int cols, const LineEditor& editor);

 private:
  struct StoredLine {
    std::vector<Cell> cells;  // stamp and text, styled
    int indent = 0;           // where wrapped rows continue
  };
  using Row = std::vector<Cell>;

  Style StyleOf(Tone tone, std::string_view text) const;
  void Wrap(const StoredLine& line, int width, std::vector<Row>& rows) const;
  int RowsOf(const StoredLine& line, int width) const;
  void DrawConversation(Frame& frame, int width, int height);
  void DrawPane(Frame& frame, int left, int width, int height) const;
  void DrawInput(Frame& frame, const LineEditor& editor) const;

  bool colour_;
  std::deque<StoredLine> lines_;
  int offset_ = 0;  // wrapped rows of the conversation below the view
  int width_ = 80;  // of the conversation at the last drawing
  int height_ = 20;
  std::vector<PaneEntry> pane_;
  std::string paneHeading_;
  std::string status_;
  std::string hint_;
};

}  // namespace orv::client
