// The operator's commands on a user: kick, block and unblock by IP, MAC or name, AFS value.
#include <string>

#include "console/escape.h"
#include "moderation/settings_check.h"
#include "server/chat_server.h"

namespace orv {

namespace {

using Field = UserTable::Field;

// The block a row command sets or lifts; kNone for the other commands.
BlockState BlockOf(RowCommand command, bool* block) {
  *block = true;
  switch (command) {
    case RowCommand::kBlockIp:
      return BlockState::kIp;
    case RowCommand::kBlockMac:
      return BlockState::kMac;
    case RowCommand::kBlockName:
      return BlockState::kName;
    case RowCommand::kBlockAddress:
      return BlockState::kAddress;
    case RowCommand::kUnblockIp:
      *block = false;
      return BlockState::kIp;
    case RowCommand::kUnblockMac:
      *block = false;
      return BlockState::kMac;
    case RowCommand::kUnblockName:
      *block = false;
      return BlockState::kName;
    case RowCommand::kUnblockAddress:
      *block = false;
      return BlockState::kAddress;
    case RowCommand::kKick:
    case RowCommand::kSetAfs:
      break;
  }
  return BlockState::kNone;
}

// How the refusals and the trace name a kind of block.
const char* KindName(BlockState kind) {
  switch (kind) {
    case BlockState::kIp:
      return "IP";
    case BlockState::kMac:
      return "MAC";
    case BlockState::kAddress:
      return "connection address";
    case BlockState::kName:
    case BlockState::kNone:
      break;
  }
  return "name";
}

std::string RowField(const UserTable& users, int row, Field field) {
  std::string value;
  users.GetDisplayField(row, field, value);
  return value;
}

std::string RowText(int row) {
  return "The user in row " + std::to_string(row);
}

}  // namespace

std::string ChatServer::CheckRow(RowCommand command, int row, int afsValue,
                                 std::string_view expectedMac) {
  std::string reason;
  const int count = users_.GetCount();
  bool block = false;
  const BlockState kind = BlockOf(command, &block);
  const BlockState state = users_.GetBlockStateAt(row);
  if (shutDown_) {
    reason = "The server is shutting down.";
  } else if (row < 0 || row >= count) {
    reason = "There is no row " + std::to_string(row) + " (the list has " + std::to_string(count) +
             (count == 1 ? " row)." : " rows).");
  } else if (!expectedMac.empty() && users_.At(row)->mac != expectedMac) {
    // The list changed since the operator looked at it: the command was meant for another
    // user than the one in that row now.
    reason = "Row " + std::to_string(row) + " no longer holds the user with MAC " +
             ClientText(expectedMac) + "; look at the list again.";
  } else if (command == RowCommand::kSetAfs) {
    if (afsValue < 0 || afsValue > 100) reason = "An AFS value runs from 0 to 100.";
  } else if (kind != BlockState::kNone && block) {
    if (state != BlockState::kNone) reason = RowText(row) + " is blocked already.";
  } else if (kind != BlockState::kNone && state != kind) {
    reason = RowText(row) + " is not blocked by " + KindName(kind) + ".";
  }
  return reason;
}

void ChatServer::Refuse(const std::string& reason, std::string* refusal) {
  if (refusal != nullptr) {
    *refusal = reason;
  } else {
    env_.view->CommandRefused(reason);
  }
}

bool ChatServer::RunRowCommand(RowCommand command, int row, int afsValue,
                               std::string_view expectedMac, std::string* refusal) {
  AssertEngineThread();
  if (std::string reason = CheckRow(command, row, afsValue, expectedMac); !reason.empty()) {
    Refuse(reason, refusal);
    return false;
  }
  bool block = false;
  if (const BlockState kind = BlockOf(command, &block); kind != BlockState::kNone) {
    ChangeBlock(row, kind, block);
  } else if (command == RowCommand::kKick) {
    KickUser(row);
  } else {
    SetAfs(row, afsValue);
  }
  return true;
}

bool ChatServer::UnblockRow(int row, std::string_view expectedMac, std::string* refusal) {
  AssertEngineThread();
  switch (users_.GetBlockStateAt(row)) {
    case BlockState::kIp:
      return RunRowCommand(RowCommand::kUnblockIp, row, 0, expectedMac, refusal);
    case BlockState::kMac:
      return RunRowCommand(RowCommand::kUnblockMac, row, 0, expectedMac, refusal);
    case BlockState::kName:
      return RunRowCommand(RowCommand::kUnblockName, row, 0, expectedMac, refusal);
    case BlockState::kAddress:
      return RunRowCommand(RowCommand::kUnblockAddress, row, 0, expectedMac, refusal);
    case BlockState::kNone:
      break;
  }
  std::string reason = CheckRow(RowCommand::kKick, row, 0, expectedMac);
  Refuse(reason.empty() ? RowText(row) + " is not blocked." : reason, refusal);
  return false;
}

void ChatServer::KickUser(int row) {
  Trace("::: kick proccess");
  const std::string ip = RowField(users_, row, Field::kReportedIp);
  const ConnectionKey key = users_.GetConnectionAt(row);
  PrintText(Format(StringId::kKicked, ip) + UsersOf(key), true, true);
  Connection* connection = connections_.Find(key);
  const std::string message = ReadMessageKey("ServerKickMessage");
  if (message.size() > 1 && connection != nullptr) {
    SendDirect(connection, EncodePacket(message, packet_type::kServerText, kOwnSubject, connection),
               false);
    // The notice arrives on its own; the connection is closed 500 ms later, and nothing it
    // sends meanwhile is acted on.
    connections_.MarkKicked(key);
    Later(std::chrono::milliseconds(500), [this, key, ip] {
      if (connections_.IsKicked(key)) CloseConnection(key, ip);
    });
  } else {
    CloseConnection(key, ip);
  }
  Trace("::: kick proccess OK");
}

std::vector<std::string> ChatServer::BlockKeys(const UserRecord& user, BlockState kind,
                                               std::string* note) {
  switch (kind) {
    case BlockState::kMac:
      return {user.mac.empty() ? std::string("n/a") : user.mac};
    case BlockState::kName:
      return {user.name.empty() ? std::string("n/a") : user.name};
    case BlockState::kAddress:
      return {user.peerAddress.empty() ? std::string("n/a") : user.peerAddress};
    case BlockState::kIp:
    case BlockState::kNone:
      break;
  }
  // By IP: the address the connection comes from, which the client cannot choose, and the
  // IP it reports only when that can be nobody else's: a plain address that no other user
  // online comes from or reports. Anything else would let a client that reports another's
  // address, or a text such as "MACbob", get that other user blocked.
  std::vector<std::string> keys;
  if (!user.peerAddress.empty()) keys.push_back(user.peerAddress);
  const std::string& reported = user.reportedIp;
  if (reported.empty() || reported == user.peerAddress) {
    if (keys.empty()) keys.push_back("n/a");
    return keys;
  }
  std::string other;
  for (int i = 0; i < users_.GetCount() && other.empty(); ++i) {
    const UserRecord& u = *users_.At(i);
    if (u.mac == user.mac) continue;
    if (u.reportedIp == reported) other = (u.name.empty() ? u.mac : u.name) + " reports it too";
    if (u.peerAddress == reported) other = (u.name.empty() ? u.mac : u.name) + " comes from it";
  }
  if (!IsIpv4Address(reported)) {
    *note = "the reported IP " + ClientText(reported) + " is not blocked: it is no IPv4 address";
  } else if (!other.empty()) {
    *note = "the reported IP " + reported + " is not blocked: " + ClientText(other);
  } else {
    keys.insert(keys.begin(), reported);
  }
  if (keys.empty()) keys.push_back("n/a");
  return keys;
}

std::string ChatServer::AlsoRefused(const std::vector<std::string>& keys, const std::string& mac) {
  std::string names;
  int count = 0;
  for (int i = 0; i < users_.GetCount(); ++i) {
    const UserRecord& u = *users_.At(i);
    if (u.mac == mac) continue;
    bool refused = false;
    for (const std::string& key : keys)
      refused = refused || BlockList::WouldRefuse(key, u.reportedIp, u.name, u.mac, u.peerAddress);
    if (!refused) continue;
    // A few by name; the rest counted.
    if (++count <= 5) {
      names += (names.empty() ? "" : ", ") + ClientText(u.name.empty() ? u.mac : u.name) + " (" +
               u.peerAddress + ")";
    }
  }
  if (count > 5) names += " and " + std::to_string(count - 5) + " more";
  return names;
}

void ChatServer::ChangeBlock(int row, BlockState kind, bool block) {
  const std::string verb = block ? "::: block by " : "::: unblock by ";
  const std::string step =
      verb +
      (kind == BlockState::kAddress ? std::string("ADDRESS") : std::string(BlockStateText(kind))) +
      " proccess";
  // Every kind of block ends in the step that writes the list, traced as the name's.
  const std::string writeStep = verb + "NAME proccess";
  const bool byName = kind == BlockState::kName;
  const UserRecord* record = users_.At(row);
  if (record == nullptr) return;
  const UserRecord user = *record;

  Trace(step);
  std::string note;
  std::vector<std::string> keys;
  if (block) {
    keys = BlockKeys(user, kind, &note);
  } else {
    // What blocking may have stored: an unblock by IP lifts the reported IP and the
    // connection's address; a key that is not listed is left as it is.
    keys = kind != BlockState::kIp ? BlockKeys(user, kind, &note)
           : user.reportedIp == user.peerAddress
               ? std::vector<std::string>{user.peerAddress}
               : std::vector<std::string>{user.reportedIp, user.peerAddress};
    note.clear();
    std::erase_if(keys, [this](const std::string& key) { return !blockList_.IsListed(key); });
    if (keys.empty()) {
      keys.push_back(kind != BlockState::kIp   ? BlockKeys(user, kind, &note).front()
                     : user.reportedIp.empty() ? std::string("n/a")
                                               : user.reportedIp);
    }
  }
  users_.SetBlockState(user.mac, block ? kind : BlockState::kNone);

  std::string line;
  if (kind == BlockState::kAddress) {
    line = (block ? "Blocked by connection address: " : "Unblocked connection address: ") +
           keys.front();
  } else {
    const StringId id = kind == BlockState::kIp
                            ? (block ? StringId::kBlockedByIp : StringId::kUnblockedByIp)
                        : kind == BlockState::kMac
                            ? (block ? StringId::kBlockedByMac : StringId::kUnblockedByMac)
                            : (block ? StringId::kBlockedByName : StringId::kUnblockedByName);
    line = Format(id, keys.front());
  }
  if (keys.size() > 1) {
    line += " (connection address " + keys.back() + (block ? " blocked too)" : " unblocked too)");
  }
  if (!note.empty()) line += " (" + note + ")";
  if (block) {
    // Keys of every kind share the list: the operator hears whom else the entry refuses.
    const std::string others = AlsoRefused(keys, user.mac);
    if (!others.empty()) line += "; this also refuses " + others;
  }
  PrintText(line, true, true);
  if (!byName) Trace(writeStep);
  bool written = true;
  for (const std::string& key : keys)
    written =
        (block ? blockList_.WriteBlockEntry(key) : blockList_.ClearBlockEntry(key)) && written;
  ReportBlockListWrite(written);
  RefreshUserList();
  Trace(writeStep + " OK");
  if (!byName) Trace(step + " OK");
}

void ChatServer::ReportBlockListWrite(bool written) {
  if (written) return;
  PrintText("The block list " + blockList_.Path().string() +
                " could not be written; the block holds only while the user stays connected",
            true, true);
}

void ChatServer::SetAfs(int row, std::int32_t value) {
  const UserRecord* record = users_.At(row);
  if (record == nullptr) return;
  users_.SetAfsAt(row, value);
  const std::string label = ClientText(RowField(users_, row, Field::kName)) + " (" +
                            ClientText(RowField(users_, row, Field::kReportedIp)) + ")";
  const std::string text = std::to_string(value);
  PrintText("ADMIN: Set AFS=" + text + " to '" + label + "'", true, true);
  if (!afsList_.WriteAfsValue(record->mac, value)) {
    PrintText("The AFS list " + afsList_.Path().string() +
                  " could not be written; the value holds only until the user's next status",
              true, true);
  }
  Connection* connection = connections_.Find(record->connection);
  SendDirect(connection, EncodePacket(text, packet_type::kAfsValue, kOwnSubject, connection),
             false);
  // The row shows the new value now, not at the next refresh.
  if (env_.view->WantsUserRows()) env_.view->UserRowsReplaced(Rows());
}

}  // namespace orv
