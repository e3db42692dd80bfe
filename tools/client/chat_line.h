// One line of the conversation as the chat client shows it: runs of text, each with the
// part it plays, so a terminal can colour names and mark the server's messages. The text is
// UTF-8 and already safe to show (control characters escaped).
#pragma once

#include <string>
#include <vector>

namespace orv::client {

enum class Tone {
  kText,     // what somebody wrote
  kName,     // another user's name (coloured by the name)
  kOwnName,  // this user's name
  kEvent,    // joins, leaves, status changes
  kServer,   // the server's messages
  kNotice,   // what the client itself says (connection, queue, help)
  kWarning,  // what went wrong
};

struct Span {
  std::string text;
  Tone tone = Tone::kText;
  friend bool operator==(const Span&, const Span&) = default;
};

struct ChatLine {
  std::vector<Span> spans;

  // The line's text without its tones.
  std::string Plain() const {
    std::string text;
    for (const Span& span : spans)
      text += span.text;
    return text;
  }
};

}  // namespace orv::client
