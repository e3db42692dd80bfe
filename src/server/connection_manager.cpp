#include "server/connection_manager.h"

#include <algorithm>
#include <string>

#include "server/chat_server.h"

namespace orv {

namespace {

constexpr const char* kDashes = "--------------------------";
constexpr std::string_view kSocketErrorText = "|SERVER: SOCKET ERROR OCCURRED";

}  // namespace

bool ConnectionManager::Start(Network& network, std::int32_t port, const std::string& address,
                              std::string* error) {
  return network.Listen(address, port, *this, error);
}

std::shared_ptr<Connection> ConnectionManager::Find(std::int32_t key) const {
  const auto it = byKey_.find(key);
  return it == byKey_.end() ? nullptr : it->second;
}

void ConnectionManager::OnAccepted(std::shared_ptr<Connection> connection) {
  if (owner_.shutDown_ || !connection) {
    if (connection) connection->Close();
    return;
  }
  owner_.Trace("::: accept proccess");
  list_.push_back(connection);
  byKey_[connection->Key()] = connection;
  owner_.Trace("::: accept & add proccess OK");

  // The new client hears nothing for 500 ms, then the welcome; everybody else is served
  // meanwhile.
  connection->HoldOutput(std::chrono::milliseconds(500));
  const std::string welcome = owner_.ReadMessageKey("ServerWelcomeMessage");
  if (welcome.size() > 1) connection->Send(owner_.EncodePacket(welcome, 6, "0.0"));

  owner_.PrintText(owner_.Format(40, connection->PeerAddress()), true, true);
  owner_.PrintText(kDashes, false, true);
  owner_.RefreshUserList();
  owner_.ArmListRefreshTimer();
  owner_.Trace("::: accept proccess OK");
}

void ConnectionManager::OnReceived(Connection& connection, std::string_view data) {
  if (owner_.shutDown_ || kicked_.contains(connection.Key())) return;
  const auto shared = Find(connection.Key());
  if (!shared) return;
  // A zero byte ends the text of a receive.
  if (const auto zero = data.find('\0'); zero != std::string_view::npos)
    data = data.substr(0, zero);
  ReadMessage(shared, data);
}

void ConnectionManager::OnReceiveError(Connection& connection) {
  if (owner_.shutDown_) return;
  const auto shared = Find(connection.Key());
  if (!shared) return;
  if (!kicked_.contains(shared->Key())) ReadMessage(shared, kSocketErrorText);
  // The socket is gone: remove the connection and its user, so that no stale row stays.
  CloseConnection(shared, shared->PeerAddress());
}

void ConnectionManager::OnPeerClosed(Connection& connection) {
  if (owner_.shutDown_) return;
  if (const auto shared = Find(connection.Key())) CloseConnection(shared, shared->PeerAddress());
}

void ConnectionManager::OnOverflow(Connection& connection) {
  if (owner_.shutDown_) return;
  const auto shared = Find(connection.Key());
  if (!shared) return;
  owner_.PrintText("Connection from " + shared->PeerAddress() +
                       " closed: it does not read what the server sends",
                   true, true);
  CloseConnection(shared, shared->PeerAddress());
}

void ConnectionManager::ReadMessage(const std::shared_ptr<Connection>& connection,
                                    std::string_view text) {
  owner_.Trace("::: read proccess");
  keyText_ = connection ? std::to_string(connection->Key()) : "0";
  if (!owner_.Dispatch(text, keyText_, connection)) return;
  owner_.Trace("::: read proccess OK");
  SendToAll(text);
}

int ConnectionManager::SendToAll(std::string_view text) {
  if (text.empty()) return 0;
  owner_.Trace("::: send2 proccess");
  // One buffer for every receiver.
  const auto bytes = std::make_shared<const std::string>(text);
  for (const auto& connection : list_) {
    if (!kicked_.empty() && kicked_.contains(connection->Key())) continue;
    connection->Send(bytes);
  }
  owner_.Trace("::: send2 proccess OK");
  return 1;
}

void ConnectionManager::CloseConnection(const std::shared_ptr<Connection>& connection,
                                        const std::string& address) {
  const auto it = connection ? std::find(list_.begin(), list_.end(), connection) : list_.end();
  if (it == list_.end()) {
    // Null, or closed already: nothing to remove.
    owner_.PrintText(owner_.Format(39, address), true, true);
    return;
  }
  owner_.Trace("::: close proccess");
  list_.erase(it);
  byKey_.erase(connection->Key());
  kicked_.erase(connection->Key());
  owner_.PrintText(owner_.Format(37, address), true, true);
  owner_.users_.RemoveByConnectionKey(std::to_string(connection->Key()));
  owner_.PrintText(owner_.FormatCount(38, owner_.users_.GetCount()), true, true);
  owner_.PrintText(kDashes, false, true);
  owner_.Trace("::: close proccess OK");
  owner_.RefreshUserList();
  connection->Close();
}

void ConnectionManager::ReportUserCount() {
  owner_.PrintText(kDashes, false, true);
  owner_.PrintText(owner_.FormatCount(38, owner_.users_.GetCount()), true, true);
  owner_.PrintText(kDashes, false, true);
}

}  // namespace orv
