// The input line of the chat client: editing keys, and a history of what was sent that Up
// and Down walk through. Holds characters, not bytes, so the cursor moves over a Cyrillic
// letter in one step.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "keys.h"

namespace orv::client {

class LineEditor {
 public:
  enum class Result {
    kNone,       // the key was handled (or ignored)
    kSubmit,     // Enter: take the line with TakeLine
    kRefused,    // a character the line does not take
    kUnhandled,  // not an editing key
  };
  static constexpr std::size_t kHistoryLimit = 500;

  // Characters for which accept says no are refused (the chat cannot carry them).
  explicit LineEditor(std::function<bool(char32_t)> accept);

  Result Handle(const Key& key);
  // The line as it stands; it goes into the history, and the line is empty again.
  std::u32string TakeLine();
  // Puts text in front of the cursor (name completion).
  void Insert(const std::u32string& text);

  const std::u32string& text() const { return text_; }
  std::size_t cursor() const { return cursor_; }

 private:
  void Recall(std::size_t index);

  std::function<bool(char32_t)> accept_;
  std::u32string text_;
  std::size_t cursor_ = 0;
  std::vector<std::u32string> history_;
  std::size_t recalled_ = 0;  // history_.size() while on the line being written
  std::u32string draft_;      // that line, kept while walking the history
};

}  // namespace orv::client
