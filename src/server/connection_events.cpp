// The life of a connection as the engine sees it: accepting (with the welcome), reading
// (hand-off to the dispatcher, relay of what it returns), the broadcast, closing and the
// user-count report.
#include <string>

#include "server/chat_server.h"

namespace orv {

namespace {

constexpr const char* kDashes = "--------------------------";

}  // namespace

void ChatServer::OnAccepted(std::shared_ptr<Connection> connection) {
  AssertEngineThread();
  if (shutDown_ || !connection) {
    if (connection) connection->Close();
    return;
  }
  Trace("::: accept proccess");
  Connection& accepted = *connection;
  connections_.Add(std::move(connection));
  Trace("::: accept & add proccess OK");

  // The new client hears nothing for 500 ms, then the welcome; everybody else is served
  // meanwhile.
  accepted.HoldOutput(std::chrono::milliseconds(500));
  const std::string welcome = ReadMessageKey("ServerWelcomeMessage");
  if (welcome.size() > 1) {
    accepted.Send(EncodePacket(welcome, packet_type::kServerText, kOwnSubject));
  }

  PrintText(Format(StringId::kConnectionAccepted, accepted.PeerAddress()), true, true);
  PrintText(kDashes, false, true);
  RefreshUserList();
  ArmListRefreshTimer();
  Trace("::: accept proccess OK");
}

void ChatServer::OnReceived(Connection& connection, std::string_view data) {
  AssertEngineThread();
  if (shutDown_) return;
  const ConnectionKey key = connection.Key();
  if (connections_.IsKicked(key) || connections_.Find(key) == nullptr) return;
  // A zero byte ends the text of a receive.
  if (const auto zero = data.find('\0'); zero != std::string_view::npos)
    data = data.substr(0, zero);
  ReadMessage(connection, data);
}

void ChatServer::OnReceiveError(Connection& connection) {
  AssertEngineThread();
  if (shutDown_) return;
  const ConnectionKey key = connection.Key();
  if (connections_.Find(key) == nullptr) return;
  if (!connections_.IsKicked(key)) ReadMessage(connection, kSocketErrorNotice);
  // The socket is gone: remove the connection and its user, so that no stale row stays.
  CloseConnection(key, connection.PeerAddress());
}

void ChatServer::OnPeerClosed(Connection& connection) {
  AssertEngineThread();
  if (shutDown_ || connections_.Find(connection.Key()) == nullptr) return;
  CloseConnection(connection.Key(), connection.PeerAddress());
}

void ChatServer::OnOverflow(Connection& connection) {
  AssertEngineThread();
  if (shutDown_ || connections_.Find(connection.Key()) == nullptr) return;
  PrintText("Connection from " + connection.PeerAddress() +
                " closed: it does not read what the server sends",
            true, true);
  CloseConnection(connection.Key(), connection.PeerAddress());
}

void ChatServer::ReadMessage(Connection& connection, std::string_view text) {
  Trace("::: read proccess");
  if (!Dispatch(text, &connection)) return;
  Trace("::: read proccess OK");
  SendToAll(text);
}

int ChatServer::SendToAll(std::string_view text) {
  if (text.empty()) return 0;
  Trace("::: send2 proccess");
  // One buffer for every receiver.
  const auto bytes = std::make_shared<const std::string>(text);
  for (const auto& connection : connections_.InOrder()) {
    if (connections_.IsKicked(connection->Key())) continue;
    connection->Send(bytes);
  }
  Trace("::: send2 proccess OK");
  return 1;
}

void ChatServer::CloseConnection(ConnectionKey key, const std::string& address) {
  const std::shared_ptr<Connection> connection = connections_.Remove(key);
  if (!connection) {
    // No connection, or closed already: nothing to remove.
    PrintText(Format(StringId::kCloseUnknown, address), true, true);
    return;
  }
  Trace("::: close proccess");
  PrintText(Format(StringId::kConnectionClosed, address), true, true);
  users_.RemoveByConnectionKey(key);
  PrintText(FormatCount(StringId::kUsersConnected, users_.GetCount()), true, true);
  PrintText(kDashes, false, true);
  Trace("::: close proccess OK");
  RefreshUserList();
  connection->Close();
}

void ChatServer::ReportUserCount() {
  PrintText(kDashes, false, true);
  PrintText(FormatCount(StringId::kUsersConnected, users_.GetCount()), true, true);
  PrintText(kDashes, false, true);
}

}  // namespace orv
