#include "line_editor.h"

namespace orv::client {

namespace {

bool IsBlank(char32_t c) {
  return c == U' ';
}

}  // namespace

LineEditor::LineEditor(std::function<bool(char32_t)> accept) : accept_(std::move(accept)) {}

LineEditor::Result LineEditor::Handle(const Key& key) {
  using Code = Key::Code;
  switch (key.code) {
    case Code::kChar:
      if (!accept_(key.ch)) return Result::kRefused;
      text_.insert(cursor_, 1, key.ch);
      ++cursor_;
      return Result::kNone;
    case Code::kEnter:
      return Result::kSubmit;
    case Code::kBackspace:
      if (cursor_ > 0) text_.erase(--cursor_, 1);
      return Result::kNone;
    case Code::kDelete:
      if (cursor_ < text_.size()) text_.erase(cursor_, 1);
      return Result::kNone;
    case Code::kLeft:
      if (cursor_ > 0) --cursor_;
      return Result::kNone;
    case Code::kRight:
      if (cursor_ < text_.size()) ++cursor_;
      return Result::kNone;
    case Code::kHome:
      cursor_ = 0;
      return Result::kNone;
    case Code::kEnd:
      cursor_ = text_.size();
      return Result::kNone;
    case Code::kWordLeft:
      while (cursor_ > 0 && IsBlank(text_[cursor_ - 1]))
        --cursor_;
      while (cursor_ > 0 && !IsBlank(text_[cursor_ - 1]))
        --cursor_;
      return Result::kNone;
    case Code::kWordRight:
      while (cursor_ < text_.size() && IsBlank(text_[cursor_]))
        ++cursor_;
      while (cursor_ < text_.size() && !IsBlank(text_[cursor_]))
        ++cursor_;
      return Result::kNone;
    case Code::kUp:
      if (recalled_ > 0) Recall(recalled_ - 1);
      return Result::kNone;
    case Code::kDown:
      if (recalled_ < history_.size()) Recall(recalled_ + 1);
      return Result::kNone;
    case Code::kControl:
      switch (key.ch) {
        case U'a':
          return Handle({Code::kHome, 0});
        case U'e':
          return Handle({Code::kEnd, 0});
        case U'b':
          return Handle({Code::kLeft, 0});
        case U'f':
          return Handle({Code::kRight, 0});
        case U'p':
          return Handle({Code::kUp, 0});
        case U'n':
          return Handle({Code::kDown, 0});
        case U'h':
          return Handle({Code::kBackspace, 0});
        case U'd':
          return Handle({Code::kDelete, 0});
        case U'u':
          text_.erase(0, cursor_);
          cursor_ = 0;
          return Result::kNone;
        case U'k':
          text_.erase(cursor_);
          return Result::kNone;
        case U'w': {
          const std::size_t end = cursor_;
          Handle({Code::kWordLeft, 0});
          text_.erase(cursor_, end - cursor_);
          return Result::kNone;
        }
        default:
          return Result::kUnhandled;
      }
    default:
      return Result::kUnhandled;
  }
}

std::u32string LineEditor::TakeLine() {
  std::u32string line;
  line.swap(text_);
  cursor_ = 0;
  draft_.clear();
  if (!line.empty() && (history_.empty() || history_.back() != line)) {
    history_.push_back(line);
    if (history_.size() > kHistoryLimit) history_.erase(history_.begin());
  }
  recalled_ = history_.size();
  return line;
}

void LineEditor::Insert(const std::u32string& text) {
  for (const char32_t c : text) {
    if (!accept_(c)) continue;
    text_.insert(cursor_, 1, c);
    ++cursor_;
  }
}

void LineEditor::Recall(std::size_t index) {
  if (recalled_ == history_.size()) draft_ = text_;
  recalled_ = index;
  text_ = index == history_.size() ? draft_ : history_[index];
  cursor_ = text_.size();
}

}  // namespace orv::client
