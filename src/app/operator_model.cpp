#include "app/operator_model.h"

#include <algorithm>
#include <cstdio>

#include "app/window_texts.h"
#include "console/code_page.h"
#include "console/escape.h"

namespace orv {

namespace {

// Reads the UTF-8 sequence at text[pos] and advances past it; a byte that begins no valid
// sequence reads as itself.
char32_t NextCodePoint(std::string_view text, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(text[pos++]);
  int length = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
  if (length == 0 || pos + static_cast<std::size_t>(length) > text.size()) return lead;
  char32_t cp = lead & (0x3F >> length);
  for (int i = 0; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[pos + static_cast<std::size_t>(i)]);
    if ((next & 0xC0) != 0x80) return lead;
    cp = (cp << 6) | (next & 0x3F);
  }
  pos += static_cast<std::size_t>(length);
  return cp;
}

// Capital letters of the code page's alphabets (Latin, Cyrillic and its national letters)
// as small ones: what the list's cells can hold.
char32_t Folded(char32_t cp) {
  if (cp >= 'A' && cp <= 'Z') return cp + 0x20;
  if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) return cp + 0x20;
  if (cp >= 0x0400 && cp <= 0x040F) return cp + 0x50;
  if (cp >= 0x0410 && cp <= 0x042F) return cp + 0x20;
  if (cp == 0x0490) return 0x0491;
  return cp;
}

// The text with every letter small, so that finding and ordering ignore case. UTF-8 sorts
// bytewise in code-point order.
std::string CaseFolded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();)
    AppendUtf8(out, Folded(NextCodePoint(text, pos)));
  return out;
}

bool IsSpace(char32_t cp) {
  return cp == ' ' || (cp >= 0x09 && cp <= 0x0D) || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
         (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F ||
         cp == 0x205F || cp == 0x3000;
}

// Without white space (Unicode's) at either end.
std::string_view Trimmed(std::string_view text) {
  std::size_t first = std::string_view::npos;
  std::size_t end = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t start = pos;
    if (IsSpace(NextCodePoint(text, pos))) continue;
    if (first == std::string_view::npos) first = start;
    end = pos;
  }
  return first == std::string_view::npos ? std::string_view() : text.substr(first, end - first);
}

// A client's text as a cell shows it: control characters escaped.
std::string Cell(const std::string& bytes) {
  return Cp1251ToUtf8(EscapeControlCharacters(bytes));
}

}  // namespace

void OperatorModel::SetRows(std::vector<UserRow> rows) {
  rows_ = std::move(rows);
  usersOnline_ = static_cast<int>(rows_.size());
  // The selected user may have left.
  if (std::none_of(rows_.begin(), rows_.end(),
                   [this](const UserRow& row) { return row.mac == selectedMac_; })) {
    selectedMac_.clear();
  }
  Rebuild();
}

void OperatorModel::SetTexts(ViewTexts texts) {
  texts_ = std::move(texts);
  // The AFS cells of users without a value of their own show the FloodStopper value.
  Rebuild();
}

void OperatorModel::SetStatus(const ServerStatus& status) {
  usersOnline_ = status.users;
}

std::array<std::string, kUserColumnCount> OperatorModel::ColumnTitles() const {
  return {"MAC",
          Cp1251ToUtf8(texts_.String(StringId::kNameColumn)),
          "IP",
          Cp1251ToUtf8(texts_.String(StringId::kAddressColumn)),
          Cp1251ToUtf8(texts_.String(StringId::kBlockColumn)),
          "AFS"};
}

std::array<int, kUserColumnCount> OperatorModel::LeastColumnWidths(int windowWidth) {
  return {100, windowWidth / 5, 75, 75, 50, 50};
}

void OperatorModel::SetFilter(std::string_view text) {
  filter_ = CaseFolded(Trimmed(text));
  Rebuild();
}

void OperatorModel::ClickColumn(int column) {
  if (column < 0 || column >= kUserColumnCount) return;
  if (column != sortColumn_) {
    sortColumn_ = column;
    descending_ = false;
  } else if (!descending_) {
    descending_ = true;
  } else {
    sortColumn_ = -1;
    descending_ = false;
  }
  Rebuild();
}

SortOrder OperatorModel::Order() const {
  if (sortColumn_ < 0) return SortOrder::kTable;
  return descending_ ? SortOrder::kDescending : SortOrder::kAscending;
}

void OperatorModel::SelectShown(int position) {
  if (position < 0 || static_cast<std::size_t>(position) >= shown_.size()) {
    selectedMac_.clear();
    return;
  }
  selectedMac_ = Shown(static_cast<std::size_t>(position)).mac;
}

int OperatorModel::SelectedShown() const {
  if (selectedMac_.empty()) return -1;
  for (std::size_t n = 0; n < shown_.size(); ++n) {
    if (Shown(n).mac == selectedMac_) return static_cast<int>(n);
  }
  return -1;
}

std::optional<UserMenuModel> OperatorModel::MenuFor(int engineRow) const {
  if (engineRow < 0 || engineRow >= static_cast<int>(rows_.size())) return std::nullopt;
  return BuildUserMenu(rows_[static_cast<std::size_t>(engineRow)], texts_);
}

void OperatorModel::Rebuild() {
  users_.clear();
  users_.reserve(rows_.size());
  sortKeys_.clear();
  sortKeys_.reserve(rows_.size());
  for (std::size_t n = 0; n < rows_.size(); ++n) {
    const UserRow& row = rows_[n];
    ListedUser user;
    user.engineRow = static_cast<int>(n);
    user.mac = row.mac;
    user.cells = {Cell(row.mac),        Cell(row.name),
                  Cell(row.reportedIp), Cell(row.peerAddress),
                  Cell(row.blockText),  AfsCellText(row, texts_.floodStopper)};
    user.ownAfs = row.afs >= 0;
    std::array<std::string, kUserColumnCount> keys;
    for (int c : {kMacColumn, kNameColumn, kIpColumn, kPeerColumn, kBlockColumn})
      keys[static_cast<std::size_t>(c)] = CaseFolded(user.cells[static_cast<std::size_t>(c)]);
    user.shown = filter_.empty();
    for (int c : {kMacColumn, kNameColumn, kIpColumn, kPeerColumn}) {
      if (user.shown) break;
      user.shown = keys[static_cast<std::size_t>(c)].find(filter_) != std::string::npos;
    }
    // Addresses sort by their numbers, AFS values by the value in force.
    keys[kIpColumn] = AddressSortKey(keys[kIpColumn]);
    keys[kPeerColumn] = AddressSortKey(keys[kPeerColumn]);
    char afs[16];
    std::snprintf(afs, sizeof afs, "%010d", user.ownAfs ? row.afs : texts_.floodStopper);
    keys[kAfsColumn] = afs;
    users_.push_back(std::move(user));
    sortKeys_.push_back(std::move(keys));
  }
  if (sortColumn_ >= 0) {
    const auto column = static_cast<std::size_t>(sortColumn_);
    // Equal keys keep the engine's order, either way round.
    std::stable_sort(users_.begin(), users_.end(), [&](const ListedUser& a, const ListedUser& b) {
      const std::string& x = sortKeys_[static_cast<std::size_t>(a.engineRow)][column];
      const std::string& y = sortKeys_[static_cast<std::size_t>(b.engineRow)][column];
      return descending_ ? y < x : x < y;
    });
  }
  shown_.clear();
  for (std::size_t n = 0; n < users_.size(); ++n) {
    if (users_[n].shown) shown_.push_back(n);
  }
}

std::optional<OperatorCommand> OperatorModel::SendCommand(std::string_view text) {
  // Characters the code page lacks become one byte each, so the length rule counts what
  // the clients would receive.
  std::string bytes = Utf8ToCp1251(Trimmed(text));
  if (bytes.size() < 2) return std::nullopt;
  return command::Send{std::move(bytes)};
}

ExitStep OperatorModel::Exit() const {
  if (stopping_) return ExitStep::kStoppedAlready;
  if (asking_) return ExitStep::kQuestionOpen;
  return usersOnline_ > 0 ? ExitStep::kAsk : ExitStep::kStop;
}

std::string OperatorModel::ExitQuestion() const {
  return ExitQuestionText(usersOnline_);
}

bool OperatorModel::ExitAnswered(bool stop) {
  asking_ = false;
  return stop && !stopping_;
}

bool OperatorModel::BeginStop() {
  if (stopping_) return false;
  stopping_ = true;
  asking_ = false;
  return true;
}

CloseStep OperatorModel::CloseBox(bool trayShown) const {
  if (stopping_) return CloseStep::kNothing;
  return trayShown ? CloseStep::kHide : CloseStep::kMinimise;
}

WindowSize OperatorModel::LeastSize(int dpi) {
  // Rounded as the system's MulDiv rounds.
  auto scaled = [dpi](int pixels) { return (pixels * dpi + 48) / 96; };
  return {scaled(kLeastSize.width), scaled(kLeastSize.height)};
}

WindowSize OperatorModel::FirstSize(WindowSize workArea, int dpi) {
  auto scaled = [dpi](int pixels) { return (pixels * dpi + 48) / 96; };
  const WindowSize least = LeastSize(dpi);
  return {std::max(std::min(scaled(kFirstSize.width), workArea.width * 9 / 10), least.width),
          std::max(std::min(scaled(kFirstSize.height), workArea.height * 9 / 10), least.height)};
}

bool OperatorModel::Restorable(WindowSize kept, int dpi) {
  const WindowSize least = LeastSize(dpi);
  return kept.width >= least.width && kept.height >= least.height;
}

int OperatorModel::ConsolePercent(int kept) {
  return kept > 5 && kept < 95 ? kept : kFirstConsolePercent;
}

std::string OperatorModel::ConsoleText(std::string_view line) {
  // The console ends lines itself; a stray carriage return would show as a box or break
  // the line.
  std::string text = Cp1251ToUtf8(line);
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

std::string OperatorModel::TooltipText(std::string_view text) {
  // Cut in code-page bytes, where every byte is one character.
  return Cp1251ToUtf8(text.substr(0, kTooltipBytes));
}

std::string OperatorModel::RefusalText(const Outcome& outcome) {
  std::string reason;
  for (const std::string& line : outcome.lines)
    reason += (reason.empty() ? "" : "\n") + line;
  return Cp1251ToUtf8(reason);
}

}  // namespace orv
