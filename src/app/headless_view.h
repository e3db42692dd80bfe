// The operator view of the headless front-end: console lines on stdout as UTF-8, one per
// line. Called on the engine thread only.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "server/engine_event.h"
#include "server/operator_command.h"

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

// The stored blocks as a table: key, what it looks like, whom online it refuses.
std::vector<std::string> FormatBlocks(const std::vector<StoredBlock>& blocks);

// The stored block an operator names by its key as FormatBlocks shows it (UTF-8, control
// characters as escapes): key is the one entry shown so, else the text as typed, in the
// code page, for the engine to look up as it is (it finds keys in any letter case).
// ambiguous: more than one entry is shown so, and none is to be lifted.
struct StoredBlockKey {
  std::string key;
  bool ambiguous = false;
};
StoredBlockKey FindStoredBlock(const std::vector<StoredBlock>& blocks, std::string_view shownKey);

// "address", "MAC" or "name".
const char* LooksLikeText(StoredBlockKind kind);

// The headless front-end's view of the engine: console lines on stdout. (A terminal keeps
// what it has shown, and the list is shown only when the operator asks for it.)
class HeadlessView final : public EventSubscriber {
 public:
  explicit HeadlessView(std::FILE* out) : out_(out) {}

  void OnEvent(const EngineEvent& event) override;
  bool WantsUserList() const override { return false; }
  bool WantsUserEvents() const override { return false; }

 private:
  std::FILE* out_;
};

}  // namespace orv
