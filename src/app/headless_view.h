// The operator view of the headless front-end: console lines on stdout as UTF-8, one per
// line. Called on the engine thread only.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "server/operator_view.h"

namespace orv {

// Code-page text made safe for a terminal: UTF-8, carriage returns dropped, and other
// control characters (which could steer the terminal) shown as "?"; line ends too when
// the text must stay on one line.
std::string TerminalText(std::string_view codePageText, bool keepLineEnds = true);

// Writes text and a line end with one call, then flushes, so lines written from two
// threads never interleave.
void WriteLine(std::FILE* out, std::string_view utf8Text);

// The user rows as a table for the operator, first row numbered 0.
std::vector<std::string> FormatUserRows(const std::vector<UserRow>& rows);

// The server's status for the operator: version, address and port, listening or why not,
// users online, uptime.
std::vector<std::string> FormatStatus(const ServerStatus& status);

class HeadlessView final : public OperatorView {
 public:
  explicit HeadlessView(std::FILE* out) : out_(out) {}

  void ConsoleLineAppended(const std::string& line) override;
  // A terminal keeps what it has shown.
  void ConsoleCleared() override {}
  // The list is shown only when the operator asks (/users reads the engine's rows then),
  // so no snapshot is wanted: one at every refresh would cost more than it serves.
  void UserRowsReplaced(const std::vector<UserRow>&) override {}
  bool WantsUserRows() const override { return false; }
  void TooltipChanged(const std::string&) override {}
  void TitleChanged(const std::string&) override {}
  void TextsLoaded(const ViewTexts&) override {}
  void CommandRefused(const std::string& reason) override;

 private:
  std::FILE* out_;
};

}  // namespace orv
