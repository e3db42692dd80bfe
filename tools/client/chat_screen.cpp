#include "chat_screen.h"

#include <algorithm>

#include "console/code_page.h"

namespace orv::client {

namespace {

constexpr char32_t kVerticalLine = U'\u2502';
constexpr std::u32string_view kPrompt = U"> ";

void Put(Frame& frame, int row, int col, std::u32string_view text, Style style, int limit) {
  for (const char32_t c : text) {
    if (col >= limit) return;
    frame.At(row, col++) = {c, style};
  }
}

}  // namespace

std::string Frame::RowText(int row) const {
  std::u32string text;
  for (int col = 0; col < cols; ++col)
    text += At(row, col).ch;
  while (!text.empty() && text.back() == U' ')
    text.pop_back();
  return EncodeUtf8(text);
}

std::u32string DecodeUtf8(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    int length = lead < 0x80         ? 1
                 : (lead >> 5) == 6  ? 2
                 : (lead >> 4) == 14 ? 3
                 : (lead >> 3) == 30 ? 4
                                     : 0;
    if (length == 0 || i + static_cast<std::size_t>(length) > text.size()) {
      out += U'\uFFFD';
      ++i;
      continue;
    }
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    bool valid = true;
    for (int k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
      if ((next & 0xC0) != 0x80) valid = false;
      c = (c << 6) | (next & 0x3F);
    }
    if (!valid) {
      out += U'\uFFFD';
      ++i;
      continue;
    }
    out += c;
    i += static_cast<std::size_t>(length);
  }
  return out;
}

std::string EncodeUtf8(std::u32string_view text) {
  std::string out;
  for (const char32_t c : text)
    AppendUtf8(out, c);
  return out;
}

Colour NameColour(std::string_view name) {
  // Yellow is the server's.
  static constexpr Colour kColours[] = {Colour::kGreen, Colour::kBlue, Colour::kMagenta,
                                        Colour::kCyan, Colour::kRed};
  std::uint32_t hash = 2166136261u;  // FNV-1a
  for (const char c : name) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 16777619u;
  }
  return kColours[hash % std::size(kColours)];
}

ChatScreen::ChatScreen(bool colour) : colour_(colour) {}

Style ChatScreen::StyleOf(Tone tone, std::string_view text) const {
  Style style;
  switch (tone) {
    case Tone::kText:
      break;
    case Tone::kName:
      style.bold = true;
      if (colour_) style.colour = NameColour(text);
      break;
    case Tone::kOwnName:
      style.bold = true;
      break;
    case Tone::kEvent:
    case Tone::kNotice:
      style.dim = true;
      break;
    case Tone::kServer:
      style.bold = true;
      if (colour_) style.colour = Colour::kYellow;
      break;
    case Tone::kWarning:
      style.bold = true;
      if (colour_) style.colour = Colour::kRed;
      break;
  }
  return style;
}

void ChatScreen::Add(const ChatLine& line, std::string_view stamp) {
  StoredLine stored;
  Style stampStyle;
  stampStyle.dim = true;
  for (const char32_t c : DecodeUtf8(stamp))
    stored.cells.push_back({c, stampStyle});
  stored.cells.push_back({U' ', {}});
  stored.indent = static_cast<int>(stored.cells.size());
  for (const Span& span : line.spans) {
    const Style style = StyleOf(span.tone, span.text);
    for (const char32_t c : DecodeUtf8(span.text))
      stored.cells.push_back({c, style});
  }
  if (offset_ > 0) offset_ += RowsOf(stored, width_);
  lines_.push_back(std::move(stored));
  if (lines_.size() > kScrollback) lines_.pop_front();
}

void ChatScreen::SetPane(std::vector<PaneEntry> entries, std::string heading) {
  pane_ = std::move(entries);
  paneHeading_ = std::move(heading);
}

void ChatScreen::PageUp() {
  offset_ += std::max(1, height_ - 1);
}

void ChatScreen::PageDown() {
  offset_ = std::max(0, offset_ - std::max(1, height_ - 1));
}

void ChatScreen::Wrap(const StoredLine& line, int width, std::vector<Row>& rows) const {
  const int indent = line.indent + 8 <= width ? line.indent : 0;
  const std::vector<Cell>& cells = line.cells;
  std::size_t pos = 0;
  bool first = true;
  for (;;) {
    const auto room = static_cast<std::size_t>(first ? width : width - indent);
    Row row(first ? 0 : static_cast<std::size_t>(indent), Cell{});
    if (cells.size() - pos <= room) {
      row.insert(row.end(), cells.begin() + static_cast<std::ptrdiff_t>(pos), cells.end());
      rows.push_back(std::move(row));
      return;
    }
    // Break after the last blank in the second half of the row, else in the middle of a word.
    std::size_t cut = pos + room;
    for (std::size_t i = pos + room; i > pos + room / 2; --i) {
      if (cells[i].ch == U' ') {
        cut = i + 1;
        break;
      }
    }
    row.insert(row.end(), cells.begin() + static_cast<std::ptrdiff_t>(pos),
               cells.begin() + static_cast<std::ptrdiff_t>(std::min(cut, pos + room)));
    rows.push_back(std::move(row));
    pos = cut;
    first = false;
  }
}

int ChatScreen::RowsOf(const StoredLine& line, int width) const {
  std::vector<Row> rows;
  Wrap(line, width, rows);
  return static_cast<int>(rows.size());
}

Frame ChatScreen::Render(int rows, int cols, const LineEditor& editor) {
  Frame frame;
  frame.rows = std::max(rows, 1);
  frame.cols = std::max(cols, 1);
  frame.cells.assign(static_cast<std::size_t>(frame.rows * frame.cols), Cell{});
  if (rows < 5 || cols < 24) {
    Put(frame, 0, 0, U"window too small", {}, frame.cols);
    return frame;
  }
  const bool pane = cols >= kPaneFrom;
  const int paneWidth = pane ? std::clamp(cols / 5, 16, 24) : 0;
  const int width = pane ? cols - paneWidth - 1 : cols;
  const int height = rows - 2;
  DrawConversation(frame, width, height);
  if (pane) {
    Style line;
    line.dim = true;
    for (int row = 0; row < height; ++row)
      frame.At(row, width) = {kVerticalLine, line};
    DrawPane(frame, width + 1, paneWidth, height);
  }

  // The status bar, with what the keys can do about the view on its right.
  Style bar;
  bar.reverse = true;
  const int barRow = rows - 2;
  for (int col = 0; col < cols; ++col)
    frame.At(barRow, col) = {U' ', bar};
  std::string right = hint_;
  if (right.empty() && offset_ > 0) right = "more below: PgDn";
  const std::u32string rightText = DecodeUtf8(right);
  const int rightFrom = std::max(0, cols - 1 - static_cast<int>(rightText.size()));
  // The status gives way to what the keys just did.
  Put(frame, barRow, 1, DecodeUtf8(status_), bar, rightText.empty() ? cols : rightFrom - 1);
  Put(frame, barRow, rightFrom, rightText, bar, cols);

  DrawInput(frame, editor);
  return frame;
}

void ChatScreen::DrawConversation(Frame& frame, int width, int height) {
  width_ = width;
  height_ = height;
  // Wrapped rows from the newest line back, as many as the view and the scrolled-back part
  // need.
  std::deque<Row> gathered;
  const auto need = static_cast<std::size_t>(offset_ + height);
  std::size_t next = lines_.size();
  while (next > 0 && gathered.size() < need) {
    std::vector<Row> rows;
    Wrap(lines_[--next], width, rows);
    gathered.insert(gathered.begin(), rows.begin(), rows.end());
  }
  const int total = static_cast<int>(gathered.size());
  if (next == 0) offset_ = std::min(offset_, std::max(0, total - height));
  const int last = total - offset_;  // one past the bottom row shown
  const int first = std::max(0, last - height);
  for (int i = first; i < last; ++i) {
    const Row& row = gathered[static_cast<std::size_t>(i)];
    for (int col = 0; col < width && col < static_cast<int>(row.size()); ++col)
      frame.At(i - first, col) = row[static_cast<std::size_t>(col)];
  }
}

void ChatScreen::DrawPane(Frame& frame, int left, int width, int height) const {
  const int limit = left + width;
  Style heading;
  heading.bold = true;
  Put(frame, 0, left + 1, DecodeUtf8(paneHeading_), heading, limit);
  const int room = height - 1;
  const int count = static_cast<int>(pane_.size());
  const int shown = count <= room ? count : room - 1;
  for (int i = 0; i < shown; ++i) {
    const PaneEntry& entry = pane_[static_cast<std::size_t>(i)];
    Style style = StyleOf(entry.own ? Tone::kOwnName : Tone::kName, entry.name);
    if (entry.away) {
      style = Style{};  // a faint colour would be hard to read
      style.dim = true;
    }
    Put(frame, 1 + i, left + 1, DecodeUtf8(entry.name), style, limit);
  }
  if (shown < count) {
    Style more;
    more.dim = true;
    Put(frame, 1 + shown, left + 1, DecodeUtf8("+" + std::to_string(count - shown) + " more"), more,
        limit);
  }
}

void ChatScreen::DrawInput(Frame& frame, const LineEditor& editor) const {
  const int row = frame.rows - 1;
  const int prompt = static_cast<int>(kPrompt.size());
  Put(frame, row, 0, kPrompt, {}, frame.cols);
  // The line scrolls sideways so that the cursor stays in view.
  const int room = frame.cols - prompt - 1;
  const int cursor = static_cast<int>(editor.cursor());
  const int start = std::max(0, cursor - room);
  const std::u32string_view text = editor.text();
  Put(frame, row, prompt, text.substr(static_cast<std::size_t>(start)), {}, frame.cols);
  frame.cursorRow = row;
  frame.cursorCol = prompt + cursor - start;
}

}  // namespace orv::client
