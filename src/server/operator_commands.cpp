// The operator's commands on a user: kick, block and unblock by IP, MAC or name, AFS value.
#include <string>

#include "server/chat_server.h"

namespace orv {

namespace {

std::string SelectedField(const UserTable& users, int row, int selector) {
  std::string value;
  users.GetDisplayField(row, selector, value);
  return value;
}

}  // namespace

bool ChatServer::CheckRow(RowCommand command, int row, int afsValue) {
  std::string reason;
  const int count = users_.GetCount();
  const int state = users_.GetBlockStateAt(row);
  if (shutDown_) {
    reason = "The server is shutting down.";
  } else if (row < 0 || row >= count) {
    reason = "There is no row " + std::to_string(row) + " (the list has " + std::to_string(count) +
             (count == 1 ? " row)." : " rows).");
  } else {
    switch (command) {
      case RowCommand::kBlockIp:
      case RowCommand::kBlockMac:
      case RowCommand::kBlockName:
        if (state != 0) reason = "The user in row " + std::to_string(row) + " is blocked already.";
        break;
      case RowCommand::kUnblockIp:
        if (state != 1)
          reason = "The user in row " + std::to_string(row) + " is not blocked by IP.";
        break;
      case RowCommand::kUnblockMac:
        if (state != 2)
          reason = "The user in row " + std::to_string(row) + " is not blocked by MAC.";
        break;
      case RowCommand::kUnblockName:
        if (state != 3) {
          reason = "The user in row " + std::to_string(row) + " is not blocked by name.";
        }
        break;
      case RowCommand::kSetAfs:
        if (afsValue < 0 || afsValue > 100) reason = "An AFS value runs from 0 to 100.";
        break;
      case RowCommand::kKick:
        break;
    }
  }
  if (reason.empty()) return true;
  env_.view->CommandRefused(reason);
  return false;
}

bool ChatServer::RunRowCommand(RowCommand command, int row, int afsValue) {
  if (!CheckRow(command, row, afsValue)) return false;
  SelectUser(row);
  switch (command) {
    case RowCommand::kKick:
      KickUser();
      break;
    case RowCommand::kBlockIp:
      BlockByIp();
      break;
    case RowCommand::kBlockMac:
      BlockByMac();
      break;
    case RowCommand::kBlockName:
      BlockByName();
      break;
    case RowCommand::kUnblockIp:
      UnblockByIp();
      break;
    case RowCommand::kUnblockMac:
      UnblockByMac();
      break;
    case RowCommand::kUnblockName:
      UnblockByName();
      break;
    case RowCommand::kSetAfs:
      SetAfs(afsValue);
      break;
  }
  return true;
}

bool ChatServer::UnblockRow(int row) {
  switch (users_.GetBlockStateAt(row)) {
    case 1:
      return RunRowCommand(RowCommand::kUnblockIp, row);
    case 2:
      return RunRowCommand(RowCommand::kUnblockMac, row);
    case 3:
      return RunRowCommand(RowCommand::kUnblockName, row);
    default:
      if (!CheckRow(RowCommand::kKick, row, 0)) return false;
      env_.view->CommandRefused("The user in row " + std::to_string(row) + " is not blocked.");
      return false;
  }
}

void ChatServer::KickUser() {
  if (shutDown_) return;
  Trace("::: kick proccess");
  const std::string ip = SelectedField(users_, selectedUser_, 2);
  PrintText(Format(36, ip), true, true);
  const std::shared_ptr<Connection> socket = users_.GetSocketAt(selectedUser_);
  const std::string message = ReadMessageKey("ServerKickMessage");
  if (message.size() > 1 && socket) {
    SendDirect(socket, EncodePacket(message, 6, "0.0"), false);
    // The notice arrives on its own; the connection is closed 500 ms later, and nothing it
    // sends meanwhile is acted on.
    connections_.MarkKicked(socket->Key());
    Later(std::chrono::milliseconds(500), [this, socket, ip] {
      if (connections_.Find(socket->Key()) == socket) connections_.CloseConnection(socket, ip);
    });
  } else {
    connections_.CloseConnection(socket, ip);
  }
  Trace("::: kick proccess OK");
}

void ChatServer::ReportBlockListWrite(bool written) {
  if (written) return;
  PrintText("The block list " + blockList_.Path().string() +
                " could not be written; the block holds only while the user stays connected",
            true, true);
}

void ChatServer::BlockByName() {
  Trace("::: block by NAME proccess");
  if (pendingBlockKey_.empty()) {
    pendingBlockKey_ = SelectedField(users_, selectedUser_, 0);
    PrintText(Format(32, pendingBlockKey_), true, true);
    if (const UserRecord* record = users_.At(selectedUser_)) users_.SetBlockState(record->mac, 3);
  }
  if (!pendingBlockKey_.empty()) {
    ReportBlockListWrite(blockList_.WriteBlockEntry(pendingBlockKey_));
    pendingBlockKey_.clear();
    RefreshUserList();
    Trace("::: block by NAME proccess OK");
  }
}

void ChatServer::UnblockByName() {
  Trace("::: unblock by NAME proccess");
  if (pendingBlockKey_.empty()) {
    if (const UserRecord* record = users_.At(selectedUser_)) users_.SetBlockState(record->mac, 0);
    pendingBlockKey_ = SelectedField(users_, selectedUser_, 0);
    PrintText(Format(35, pendingBlockKey_), true, true);
  }
  if (!pendingBlockKey_.empty()) {
    ReportBlockListWrite(blockList_.ClearBlockEntry(pendingBlockKey_));
    pendingBlockKey_.clear();
    RefreshUserList();
    Trace("::: unblock by NAME proccess OK");
  }
}

void ChatServer::BlockByIp() {
  Trace("::: block by IP proccess");
  pendingBlockKey_ = SelectedField(users_, selectedUser_, 2);
  PrintText(Format(30, pendingBlockKey_), true, true);
  if (const UserRecord* record = users_.At(selectedUser_)) users_.SetBlockState(record->mac, 1);
  BlockByName();
  Trace("::: block by IP proccess OK");
}

void ChatServer::BlockByMac() {
  Trace("::: block by MAC proccess");
  pendingBlockKey_ = SelectedField(users_, selectedUser_, 1);
  if (const UserRecord* record = users_.At(selectedUser_)) users_.SetBlockState(record->mac, 2);
  PrintText(Format(31, pendingBlockKey_), true, true);
  BlockByName();
  Trace("::: block by MAC proccess OK");
}

void ChatServer::UnblockByIp() {
  Trace("::: unblock by IP proccess");
  if (const UserRecord* record = users_.At(selectedUser_)) users_.SetBlockState(record->mac, 0);
  pendingBlockKey_ = SelectedField(users_, selectedUser_, 2);
  PrintText(Format(33, pendingBlockKey_), true, true);
  UnblockByName();
  Trace("::: unblock by IP proccess OK");
}

void ChatServer::UnblockByMac() {
  Trace("::: unblock by MAC proccess");
  pendingBlockKey_ = SelectedField(users_, selectedUser_, 1);
  if (const UserRecord* record = users_.At(selectedUser_)) users_.SetBlockState(record->mac, 0);
  PrintText(Format(34, pendingBlockKey_), true, true);
  UnblockByName();
  Trace("::: unblock by MAC proccess OK");
}

void ChatServer::SetAfs(std::int32_t value) {
  const UserRecord* record = users_.At(selectedUser_);
  if (shutDown_ || record == nullptr) return;
  users_.SetAfsAt(selectedUser_, value);
  const std::string label = SelectedField(users_, selectedUser_, 0) + " (" +
                            SelectedField(users_, selectedUser_, 2) + ")";
  const std::string text = std::to_string(value);
  PrintText("ADMIN: Set AFS=" + text + " to '" + label + "'", true, true);
  if (!afsList_.WriteAfsValue(record->mac, value)) {
    PrintText("The AFS list " + afsList_.Path().string() +
                  " could not be written; the value holds only until the user's next status",
              true, true);
  }
  SendDirect(users_.GetSocketAt(selectedUser_), EncodePacket(text, 45, "0.0"), false);
}

}  // namespace orv
