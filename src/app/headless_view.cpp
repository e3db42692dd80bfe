#include "app/headless_view.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "console/code_page.h"
#include "console/escape.h"

namespace orv {

std::string TerminalText(std::string_view codePageText, bool keepLineEnds) {
  std::string text = Cp1251ToUtf8(codePageText);
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\r') continue;
    if ((c < 0x20 && !(keepLineEnds && (c == '\t' || c == '\n'))) || c == 0x7F) {
      out += '?';
    } else {
      out += ch;
    }
  }
  return out;
}

void WriteLine(std::FILE* out, std::string_view utf8Text) {
  std::string line(utf8Text);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), out);
  std::fflush(out);
}

std::vector<std::string> FormatUserRows(const std::vector<UserRow>& rows) {
  if (rows.empty()) return {"no users"};
  const std::array<std::string, 7> headers = {"row",     "MAC",   "name", "reported IP",
                                              "address", "block", "AFS"};
  std::vector<std::array<std::string, 7>> cells;
  cells.push_back(headers);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const UserRow& row = rows[i];
    // Client-written texts: control characters show as escapes, never steer the terminal.
    auto cell = [](const std::string& text) {
      return TerminalText(EscapeControlCharacters(text), false);
    };
    cells.push_back({std::to_string(i), cell(row.mac), cell(row.name), cell(row.reportedIp),
                     cell(row.peerAddress), cell(row.blockText),
                     row.afs < 0 ? std::string("-") : std::to_string(row.afs)});
  }
  // Column widths in characters (UTF-8 continuation bytes do not count).
  auto width = [](const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char ch) {
      return (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
    }));
  };
  std::array<std::size_t, 7> widths{};
  for (const auto& line : cells) {
    for (std::size_t c = 0; c < line.size(); ++c)
      widths[c] = std::max(widths[c], width(line[c]));
  }
  std::vector<std::string> lines;
  for (const auto& line : cells) {
    std::string text;
    for (std::size_t c = 0; c < line.size(); ++c) {
      text += line[c];
      if (c + 1 < line.size()) text += std::string(widths[c] - width(line[c]) + 2, ' ');
    }
    lines.push_back(std::move(text));
  }
  return lines;
}

std::vector<std::string> FormatStatus(const ServerStatus& status) {
  const std::string address = (status.address.empty() ? std::string("0.0.0.0") : status.address) +
                              ":" + std::to_string(status.port);
  std::string reachable;
  for (const std::string& at : status.clientAddresses)
    reachable += (reachable.empty() ? "" : ", ") + at + ":" + std::to_string(status.port);
  std::string listening =
      status.listening ? "listening on " + (reachable.empty() ? address : reachable)
                       : "not listening on " + address +
                             (status.notListeningReason.empty() ? std::string()
                                                                : ": " + status.notListeningReason);
  const std::int64_t seconds =
      std::max<std::int64_t>(0, (status.takenAtMs - status.startedAtMs) / 1000);
  char uptime[64];
  std::snprintf(uptime, sizeof uptime, "%lld d %02lld:%02lld:%02lld",
                static_cast<long long>(seconds / 86400),
                static_cast<long long>(seconds / 3600 % 24),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  return {"version: " + TerminalText(status.version, false), TerminalText(listening, false),
          "users online: " + std::to_string(status.users),
          "connections: " + std::to_string(status.connections), std::string("uptime: ") + uptime};
}

const char* LooksLikeText(StoredBlockKind kind) {
  switch (kind) {
    case StoredBlockKind::kAddress:
      return "address";
    case StoredBlockKind::kMac:
      return "MAC";
    case StoredBlockKind::kName:
      break;
  }
  return "name";
}

namespace {

std::string ShownKey(const std::string& key) {
  return TerminalText(EscapeControlCharacters(key), false);
}

}  // namespace

std::vector<std::string> FormatBlocks(const std::vector<StoredBlock>& blocks) {
  if (blocks.empty()) return {"no stored blocks"};
  std::vector<std::string> lines;
  for (const StoredBlock& block : blocks) {
    std::string line = ShownKey(block.key) + "  (" + LooksLikeText(block.looksLike) + ")";
    if (!block.refusing.empty()) {
      line += "  refuses:";
      for (const std::string& user : block.refusing)
        line += " " + TerminalText(user, false);
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

StoredBlockKey FindStoredBlock(const std::vector<StoredBlock>& blocks, std::string_view shownKey) {
  StoredBlockKey found{Utf8ToCp1251(shownKey)};
  int matches = 0;
  for (const StoredBlock& block : blocks) {
    if (ShownKey(block.key) != shownKey) continue;
    found.key = block.key;
    ++matches;
  }
  found.ambiguous = matches > 1;
  return found;
}

void HeadlessView::OnEvent(const EngineEvent& event) {
  if (const auto* line = std::get_if<event::ConsoleLine>(&event)) {
    WriteLine(out_, TerminalText(line->text));
  }
}

}  // namespace orv
