// The operator's commands on a user: kick, block and unblock by IP, MAC or name, AFS value.
#include <string>

#include "console/escape.h"
#include "server/chat_server.h"

namespace orv {

namespace {

using Field = UserTable::Field;

// What blocking by one key means: the field that is written to the block list, the console
// lines of a block and an unblock, and the trace name of the step.
struct BlockKind {
  BlockState state;
  Field field;
  StringId blockedLine;
  StringId unblockedLine;
  const char* traceName;
};

constexpr BlockKind kBlockKinds[] = {
    {BlockState::kIp, Field::kReportedIp, StringId::kBlockedByIp, StringId::kUnblockedByIp, "IP"},
    {BlockState::kMac, Field::kMac, StringId::kBlockedByMac, StringId::kUnblockedByMac, "MAC"},
    {BlockState::kName, Field::kName, StringId::kBlockedByName, StringId::kUnblockedByName, "NAME"},
};

const BlockKind& KindOf(BlockState state) {
  for (const BlockKind& kind : kBlockKinds) {
    if (kind.state == state) return kind;
  }
  return kBlockKinds[2];
}

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
    case RowCommand::kUnblockIp:
      *block = false;
      return BlockState::kIp;
    case RowCommand::kUnblockMac:
      *block = false;
      return BlockState::kMac;
    case RowCommand::kUnblockName:
      *block = false;
      return BlockState::kName;
    case RowCommand::kKick:
    case RowCommand::kSetAfs:
      break;
  }
  return BlockState::kNone;
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
    reason = RowText(row) + " is not blocked by " +
             (kind == BlockState::kName ? std::string("name") : KindOf(kind).traceName) + ".";
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

void ChatServer::ChangeBlock(int row, BlockState kind, bool block) {
  const BlockKind& how = KindOf(kind);
  const std::string verb = block ? "::: block by " : "::: unblock by ";
  const std::string step = verb + how.traceName + " proccess";
  // Every kind of block ends in the step that writes the list, traced as the name's.
  const std::string writeStep = verb + "NAME proccess";
  const bool byName = kind == BlockState::kName;

  Trace(step);
  const std::string key = RowField(users_, row, how.field);
  std::string peer;
  if (const UserRecord* record = users_.At(row)) {
    users_.SetBlockState(record->mac, block ? kind : BlockState::kNone);
    peer = record->peerAddress;
  }
  // The reported IP is what the client says; the connection's address is what it cannot
  // change, so a block by IP holds that too, and the operator is told so.
  const bool withPeer = kind == BlockState::kIp && !peer.empty() && peer != key;
  std::string line = Format(block ? how.blockedLine : how.unblockedLine, key);
  if (withPeer) {
    line += " (connection address " + peer + (block ? " blocked too)" : " unblocked too)");
  }
  PrintText(line, true, true);
  if (!byName) Trace(writeStep);
  auto write = [&](const std::string& entry) {
    return block ? blockList_.WriteBlockEntry(entry) : blockList_.ClearBlockEntry(entry);
  };
  bool written = write(key);
  if (withPeer) written = write(peer) && written;
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
