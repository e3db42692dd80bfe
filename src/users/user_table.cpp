#include "users/user_table.h"

#include <algorithm>
#include <charconv>
#include <string>

#include "protocol/wire_constants.h"

namespace orv {

namespace {

// Appends a client's text to a list block so that it stays inside its own field: "[", "]"
// and "|" would let a name or status open or close entries and fields ("[/IUL][IUL]|U1|..."
// puts a user that does not exist into every newcomer's list), so they become "(", ")" and
// the broken bar. Only the list's copy changes; the client's own packets are relayed as sent.
void AppendField(std::string& block, std::string_view text) {
  // Copied first and mended in place: one pass over the bytes, no search per character
  // (a list answer copies every field of every user, thousands of times in a login storm).
  const std::size_t from = block.size();
  block.append(text);
  for (std::size_t i = from; i < block.size(); ++i) {
    char& c = block[i];
    if (c == '[') {
      c = '(';
    } else if (c == ']') {
      c = ')';
    } else if (c == '|') {
      c = '\xA6';  // the broken bar in the code page
    }
  }
}

}  // namespace

void UserTable::AddOrUpdate(std::string_view mac, std::string_view reportedIp,
                            std::string_view name, ConnectionKey connection,
                            std::string_view peerAddress, std::string_view avatar,
                            std::string_view lastText, std::int32_t lastCode, std::int32_t afs) {
  if (!connection) return;
  if (UserRecord* record = FindMutable(mac)) {
    // Assigning into the existing strings keeps their buffers: no allocation per packet.
    if (!peerAddress.empty()) record->peerAddress.assign(peerAddress);
    record->avatar.assign(avatar);
    if (lastCode != 0) record->lastCode = lastCode;
    if (!lastText.empty()) record->lastText.assign(lastText);
    record->reportedIp.assign(reportedIp);
    record->name.assign(name);
    if (record->connection != connection) {
      Detach(*record);
      record->connection = connection;
      Attach(*record);
    }
    record->afs = afs;
    return;
  }
  UserRecord record;
  record.peerAddress = peerAddress;
  record.avatar = avatar;
  record.lastText = lastText;
  record.lastCode = lastCode;
  record.reportedIp = reportedIp;
  record.mac = mac;
  record.connection = connection;
  record.name = name;
  record.serial = nextSerial_++;
  record.afs = afs;
  index_.emplace(record.mac, records_.size());
  Attach(record);
  records_.push_back(std::move(record));
}

int UserTable::RemoveByConnectionKey(ConnectionKey key) {
  const auto before = records_.size();
  std::size_t first = before;
  for (std::size_t i = 0; i < before; ++i) {
    if (records_[i].connection != key) continue;
    if (first == before) first = i;
    index_.erase(records_[i].mac);
  }
  if (first == before) return 0;
  perConnection_.erase(key);
  std::erase_if(records_, [&](const UserRecord& r) { return r.connection == key; });
  // Only the records behind the first removed one moved; their entries are updated in
  // place, without making keys again.
  for (std::size_t i = first; i < records_.size(); ++i)
    index_.find(records_[i].mac)->second = i;
  return static_cast<int>(before - records_.size());
}

BlockState UserTable::FindBlockState(std::string_view mac) const {
  const UserRecord* record = Find(mac);
  return record ? record->blockState : BlockState::kNone;
}

std::int32_t UserTable::FindAfs(std::string_view mac) const {
  const UserRecord* record = Find(mac);
  return record ? record->afs : -1;
}

void UserTable::SetBlockState(std::string_view mac, BlockState value) {
  UserRecord* record = FindMutable(mac);
  if (record == nullptr) return;
  Detach(*record);
  record->blockState = value;
  Attach(*record);
}

void UserTable::Detach(const UserRecord& record) {
  const auto it = perConnection_.find(record.connection);
  if (it == perConnection_.end()) return;
  Held& held = it->second;
  --held.records;
  if (record.blockState != BlockState::kNone) --held.blocked;
  if (held.records <= 0) perConnection_.erase(it);
}

void UserTable::Attach(const UserRecord& record) {
  Held& held = perConnection_[record.connection];
  ++held.records;
  if (record.blockState != BlockState::kNone) ++held.blocked;
}

void UserTable::SetAfs(std::string_view mac, std::int32_t value) {
  if (UserRecord* record = FindMutable(mac)) record->afs = value;
}

void UserTable::SetStateFlag(std::string_view mac, bool value) {
  if (UserRecord* record = FindMutable(mac)) record->stateFlag = value;
}

ConnectionKey UserTable::GetConnectionAt(int index) const {
  const UserRecord* record = At(index);
  return record ? record->connection : ConnectionKey{};
}

int UserTable::CountFor(ConnectionKey connection) const {
  const auto it = perConnection_.find(connection);
  return it == perConnection_.end() ? 0 : it->second.records;
}

bool UserTable::AnyBlockedFor(ConnectionKey connection) const {
  const auto it = perConnection_.find(connection);
  return it != perConnection_.end() && it->second.blocked > 0;
}

BlockState UserTable::GetBlockStateAt(int index) const {
  const UserRecord* record = At(index);
  return record ? record->blockState : BlockState::kNone;
}

void UserTable::SetAfsAt(int index, std::int32_t value) {
  if (index >= 0 && index < GetCount()) records_[static_cast<std::size_t>(index)].afs = value;
}

bool UserTable::GetDisplayField(int index, Field field, std::string& out) const {
  const UserRecord* record = At(index);
  if (!record) return true;
  const std::string* value = nullptr;
  switch (field) {
    case Field::kName:
      value = &record->name;
      break;
    case Field::kMac:
      value = &record->mac;
      break;
    case Field::kReportedIp:
      value = &record->reportedIp;
      break;
    case Field::kPeerAddress:
      value = &record->peerAddress;
      break;
  }
  if (value->empty()) {
    out = "n/a";
    return false;
  }
  out = *value;
  return true;
}

bool UserTable::BuildListBlock(std::uint64_t* next, std::string& block) const {
  block.clear();
  int budget = kListEntriesPerBlock;
  // Records stay in creation order, so their serials rise along the table.
  const auto start = std::lower_bound(
      records_.begin(), records_.end(), *next,
      [](const UserRecord& record, std::uint64_t serial) { return record.serial < serial; });
  std::size_t i = static_cast<std::size_t>(start - records_.begin());
  const std::size_t end = records_.size();
  // Appended piece by piece: a list answer for thousands of users is built often, and
  // temporaries per field would cost an allocation each.
  char code[16];
  for (; i < end && budget > 0; ++i) {
    const UserRecord& r = records_[i];
    if (r.name.empty() || r.mac.empty() || r.reportedIp.empty()) continue;
    const auto codeEnd = std::to_chars(code, code + sizeof code, r.lastCode).ptr;
    block.append(kListEntryOpen).append("|U1|");
    AppendField(block, r.name);
    block.append("|/U1||U2|");
    AppendField(block, r.mac);
    block.append("|/U2||U3|");
    AppendField(block, r.reportedIp);
    block.append("|/U3||U4|");
    AppendField(block, r.lastText.empty() ? std::string_view("n/a") : r.lastText);
    block.append("|/U4||U5|");
    AppendField(block, r.avatar.empty() ? std::string_view("none") : r.avatar);
    block.append("|/U5||U6|").append(code, static_cast<std::size_t>(codeEnd - code));
    block.append("|/U6||U7|").append(r.stateFlag ? "1" : "0");
    block.append("|/U7|").append(kListEntryClose);
    --budget;
  }
  if (i == end) return false;
  *next = records_[i].serial;
  return true;
}

const UserRecord* UserTable::At(int index) const {
  if (index < 0 || index >= GetCount()) return nullptr;
  return &records_[static_cast<std::size_t>(index)];
}

const UserRecord* UserTable::Find(std::string_view mac) const {
  const auto it = index_.find(mac);
  return it == index_.end() ? nullptr : &records_[it->second];
}

UserRecord* UserTable::FindMutable(std::string_view mac) {
  const auto it = index_.find(mac);
  return it == index_.end() ? nullptr : &records_[it->second];
}

}  // namespace orv
