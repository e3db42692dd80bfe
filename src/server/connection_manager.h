// The live connections in order of acceptance: accepting (with the welcome), reading (hand-
// off to the dispatcher, relay of what it returns), the broadcast, closing and the user-
// count report.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "server/connection.h"
#include "server/network.h"

namespace orv {

class ChatServer;

class ConnectionManager final : public ConnectionEvents {
 public:
  explicit ConnectionManager(ChatServer& owner) : owner_(owner) {}

  bool Start(Network& network, std::int32_t port, const std::string& address, std::string* error);

  // ConnectionEvents.
  void OnAccepted(std::shared_ptr<Connection> connection) override;
  void OnReceived(Connection& connection, std::string_view data) override;
  void OnReceiveError(Connection& connection) override;
  void OnPeerClosed(Connection& connection) override;
  void OnOverflow(Connection& connection) override;

  // Dispatches one unit and relays the result unless it is "BLOCK". connection is null for
  // packets the server builds itself.
  void ReadMessage(const std::shared_ptr<Connection>& connection, std::string_view text);
  // Sends text to every connection, in order of acceptance. 0 for an empty text, else 1.
  int SendToAll(std::string_view text);
  // Removes the connection, its user records and closes it; null prints a line only.
  void CloseConnection(const std::shared_ptr<Connection>& connection, const std::string& address);
  void ReportUserCount();

  std::size_t Count() const { return list_.size(); }
  std::shared_ptr<Connection> Find(std::int32_t key) const;
  // A kicked connection's input is ignored until it is closed.
  void MarkKicked(std::int32_t key) { kicked_.insert(key); }

 private:
  ChatServer& owner_;
  std::vector<std::shared_ptr<Connection>> list_;
  std::unordered_map<std::int32_t, std::shared_ptr<Connection>> byKey_;
  std::unordered_set<std::int32_t> kicked_;
  std::string keyText_;  // reused "%d" rendering
};

}  // namespace orv
