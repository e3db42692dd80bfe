#include "app/control_answer.h"

#include <algorithm>
#include <utility>

#include "app/control_json.h"
#include "app/headless_view.h"
#include "console/escape.h"

namespace orv {

namespace {

// Lines of a text that may hold line breaks.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

ControlAnswer LinesAnswer(std::vector<std::string> lines) {
  ControlAnswer answer;
  for (std::string& line : lines)
    answer.Out(std::move(line));
  return answer;
}

// A user of a follower's line: "MAC AA01, name ann, IP 10.0.0.7, address 127.0.0.1".
std::string UserSummary(const UserRow& user) {
  std::string text = "MAC " + PrintedText(user.mac);
  if (!user.name.empty()) text += ", name " + PrintedText(user.name);
  if (!user.reportedIp.empty()) text += ", IP " + PrintedText(user.reportedIp);
  if (!user.peerAddress.empty()) text += ", address " + PrintedText(user.peerAddress);
  if (!user.blockText.empty()) text += ", blocked by " + PrintedText(user.blockText);
  if (user.afs >= 0) text += ", AFS " + std::to_string(user.afs);
  return text;
}

}  // namespace

std::string PrintedText(const std::string& codePageText) {
  return TerminalText(EscapeControlCharacters(codePageText), false);
}

ControlAnswer OutcomeAnswer(const Outcome& outcome, bool) {
  ControlAnswer answer;
  answer.status = outcome.done ? kControlOk : kControlRefused;
  for (const std::string& line : outcome.lines) {
    const std::string text = TerminalText(line, false);
    if (outcome.done) {
      answer.Out(text);
    } else {
      answer.Err(text);
    }
  }
  return answer;
}

ControlAnswer SendAnswer(const Outcome& outcome, bool json) {
  // The engine sends nothing shorter than 2 characters, and then says nothing.
  if (!outcome.lines.empty()) return OutcomeAnswer(outcome, json);
  ControlAnswer answer;
  answer.status = kControlRefused;
  answer.Err("Nothing was sent: a message needs at least 2 characters.");
  return answer;
}

ControlAnswer StatusAnswer(const Outcome& outcome, bool json) {
  if (json) return LinesAnswer({StatusJson(outcome.status)});
  return LinesAnswer(FormatStatus(outcome.status));
}

ControlAnswer UsersAnswer(const Outcome& outcome, bool json) {
  if (json) return LinesAnswer({UsersJson(outcome.users)});
  std::vector<std::string> lines = FormatUserRows(outcome.users);
  // The row column holds digits only, padded to one width: the MAC column starts where
  // its header does on every line.
  const std::size_t macColumn = lines.size() < 2 ? 0 : lines.front().find("MAC");
  if (macColumn != std::string::npos) {
    for (std::string& line : lines)
      line.erase(0, std::min(macColumn, line.size()));
  }
  return LinesAnswer(std::move(lines));
}

ControlAnswer BlocksAnswer(const Outcome& outcome, bool json) {
  if (json) return LinesAnswer({BlocksJson(outcome.blocks)});
  return LinesAnswer(FormatBlocks(outcome.blocks));
}

ControlAnswer TextAnswer(int status, const std::string& text, bool toStdout) {
  ControlAnswer answer;
  answer.status = status;
  for (std::string& line : SplitLines(text))
    answer.lines.push_back({toStdout, std::move(line)});
  return answer;
}

std::string EncodeControlAnswer(const ControlAnswer& answer) {
  std::string wire;
  for (const ControlAnswer::Line& line : answer.lines) {
    for (const std::string& part : SplitLines(line.text)) {
      wire += line.toStdout ? "out " : "err ";
      wire += part;
      wire += '\n';
    }
  }
  wire += "end " + std::to_string(answer.status) + "\n";
  return wire;
}

std::optional<ControlWireLine> DecodeControlLine(std::string_view line) {
  ControlWireLine decoded;
  if (line.rfind("out ", 0) == 0 || line.rfind("err ", 0) == 0) {
    decoded.line = {line[0] == 'o', std::string(line.substr(4))};
    return decoded;
  }
  if (line.rfind("end ", 0) != 0) return std::nullopt;
  const std::string_view number = line.substr(4);
  if (number.empty() || number.size() > 3 ||
      number.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  decoded.end = true;
  decoded.status = std::stoi(std::string(number));
  return decoded;
}

std::optional<ControlAnswer> DecodeControlAnswer(std::string_view text) {
  ControlAnswer answer;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) return std::nullopt;  // cut off
    const auto line = DecodeControlLine(text.substr(start, end - start));
    start = end + 1;
    if (!line) return std::nullopt;
    if (line->end) {
      answer.status = line->status;
      return answer;
    }
    answer.lines.push_back(line->line);
  }
  return std::nullopt;
}

std::vector<std::string> FollowLines(const EngineEvent& event, bool json) {
  if (json) {
    std::string document = EventJson(event);
    if (document.empty()) return {};
    return {std::move(document)};
  }
  if (const auto* line = std::get_if<event::ConsoleLine>(&event))
    return SplitLines(TerminalText(line->text));
  if (const auto* joined = std::get_if<event::UserJoined>(&event))
    return {"joined: " + UserSummary(joined->user)};
  if (const auto* changed = std::get_if<event::UserChanged>(&event))
    return {"changed: " + UserSummary(changed->user)};
  if (const auto* left = std::get_if<event::UserLeft>(&event))
    return {"left: " + UserSummary(left->user)};
  return {};
}

}  // namespace orv
