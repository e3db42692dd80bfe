// The life of a connection as the engine sees it: accepting (with the welcome), reading
// (hand-off to the dispatcher, relay of what it returns), the broadcast, closing and the
// user-count report.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "console/escape.h"
#include "server/chat_server.h"

namespace orv {

namespace {

constexpr const char* kDashes = "--------------------------";
constexpr std::chrono::minutes kNoticePeriod{1};

// 2413 as "2,413".
std::string WithThousands(std::uint64_t n) {
  std::string digits = std::to_string(n);
  for (std::size_t at = digits.size(); at > 3; at -= 3)
    digits.insert(at - 3, ",");
  return digits;
}

}  // namespace

void ChatServer::OnAccepted(std::shared_ptr<Connection> connection) {
  AssertEngineThread();
  if (shutDown_ || !connection) {
    if (connection) connection->Close();
    return;
  }
  acceptFailureSaid_ = false;
  const int sameAddress = connections_.CountFrom(connection->PeerAddress());
  if (settings_.MaxConnectionsPerAddress > 0 && sameAddress >= settings_.MaxConnectionsPerAddress) {
    Notice("refused connections", connection->PeerAddress(),
           "Connection from " + connection->PeerAddress() + " refused: that address has " +
               std::to_string(sameAddress) + " connections already (MaxConnectionsPerAddress)");
    connection->Close();
    return;
  }
  Trace("::: accept proccess");
  Connection& accepted = *connection;
  connections_.Add(std::move(connection));
  if (env_.scheduler != nullptr) {
    connections_.FindEntry(accepted.Key())->lastInput = env_.scheduler->SteadyNow();
  }
  Trace("::: accept & add proccess OK");

  // The new client hears nothing for 500 ms, then the welcome; everybody else is served
  // meanwhile.
  accepted.HoldOutput(std::chrono::milliseconds(500));
  const std::string welcome = ReadMessageKey("ServerWelcomeMessage");
  if (welcome.size() > 1) {
    accepted.Send(EncodePacket(welcome, packet_type::kServerText, kOwnSubject, &accepted));
  }

  if (ChurnLinesAllowed(accepted.PeerAddress(), true)) {
    PrintText(Format(StringId::kConnectionAccepted, accepted.PeerAddress()), true, true);
    PrintText(kDashes, false, true);
  }
  RequestRefresh();
  ArmListRefreshTimer();
  Trace("::: accept proccess OK");
}

void ChatServer::OnReceived(Connection& connection, std::string_view data) {
  AssertEngineThread();
  if (shutDown_) return;
  const ConnectionKey key = connection.Key();
  ConnectionList::Entry* entry = connections_.FindEntry(key);
  if (entry == nullptr || entry->kicked) return;
  if (settings_.IdleTimeout > 0) entry->lastInput = env_.scheduler->SteadyNow();
  // TCP splits and joins what clients write: each complete packet is acted on in turn.
  const auto limit = static_cast<std::size_t>(std::max(settings_.MaxPacketSize, 64));
  const Framing framing{wireTerminator_, limit, &startBytes_};
  const auto result = entry->input.Feed(
      data, framing,
      [&](std::string_view packet) {
        const bool relayed = ReadMessage(connection, packet);
        ConnectionList::Entry* still = connections_.FindEntry(key);
        if (still == nullptr || still->kicked) return false;
        still->lastRelayed = relayed;
        return true;
      },
      [&](std::string_view trailer) {
        // The characters a client writes after its packet go where the packet went.
        if (entry->lastRelayed) AppendToRelay(trailer);
      });
  FlushRelay();
  if (result == PacketAssembler::Result::kOverflow) {
    Notice("connections closed for MaxPacketSize", connection.PeerAddress(),
           "Connection from " + connection.PeerAddress() + UsersOf(key) +
               " closed: it sent more than " + std::to_string(limit) +
               " bytes without ending a packet (MaxPacketSize)");
    CloseConnection(key, connection.PeerAddress());
  }
}

void ChatServer::OnReceiveError(Connection& connection) {
  AssertEngineThread();
  if (shutDown_) return;
  const ConnectionKey key = connection.Key();
  if (connections_.Find(key) == nullptr) return;
  if (!connections_.IsKicked(key)) {
    ReadMessage(connection, kSocketErrorNotice);
    FlushRelay();
  }
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
  Notice("slow readers closed", connection.PeerAddress(),
         "Connection from " + connection.PeerAddress() + UsersOf(connection.Key()) +
             " closed: it does not read what the server sends");
  CloseConnection(connection.Key(), connection.PeerAddress());
}

void ChatServer::OnAcceptFailed(const std::string& reason) {
  AssertEngineThread();
  if (shutDown_ || acceptFailureSaid_) return;
  // Said once; the listener keeps trying and the next accepted connection ends the spell.
  acceptFailureSaid_ = true;
  PrintText("Cannot accept new connections: " + reason +
                "; the server keeps serving those it has and tries again",
            true, true);
}

bool ChatServer::ReadMessage(Connection& connection, std::string_view text) {
  Trace("::: read proccess");
  if (!Dispatch(text, &connection)) return false;
  Trace("::: read proccess OK");
  AppendToRelay(text);
  return true;
}

void ChatServer::AppendToRelay(std::string_view text) {
  // Made as the buffer every receiver shares, so relaying copies the bytes once.
  if (!relayBatch_) relayBatch_ = std::make_shared<std::string>();
  relayBatch_->append(text);
}

void ChatServer::FlushRelay() {
  if (!relayBatch_) return;
  SharedBytes batch = std::move(relayBatch_);
  relayBatch_.reset();
  Broadcast(std::move(batch));
}

int ChatServer::SendToAll(std::string_view text) {
  FlushRelay();
  if (text.empty()) return 0;
  return Broadcast(std::make_shared<const std::string>(text));
}

int ChatServer::Broadcast(SharedBytes bytes) {
  if (!bytes || bytes->empty()) return 0;
  Trace("::: send2 proccess");
  // One buffer for every receiver.
  for (const auto& connection : connections_.InOrder()) {
    if (connections_.IsKicked(connection->Key())) continue;
    connection->Send(bytes);
  }
  Trace("::: send2 proccess OK");
  return 1;
}

void ChatServer::CloseConnection(ConnectionKey key, const std::string& address) {
  FlushRelay();
  const std::shared_ptr<Connection> connection = connections_.Remove(key);
  if (!connection) {
    // No connection, or closed already: nothing to remove.
    PrintText(Format(StringId::kCloseUnknown, address), true, true);
    return;
  }
  Trace("::: close proccess");
  const bool said = ChurnLinesAllowed(connection->PeerAddress(), false);
  if (said) PrintText(Format(StringId::kConnectionClosed, address) + UsersOf(key), true, true);
  users_.RemoveByConnectionKey(key);
  if (said) {
    PrintText(FormatCount(StringId::kUsersConnected, users_.GetCount()), true, true);
    PrintText(kDashes, false, true);
  }
  Trace("::: close proccess OK");
  RequestRefresh();
  connection->Close();
}

void ChatServer::Notice(std::string_view kind, const std::string& address,
                        const std::string& line) {
  // Per address, not per connection: a thousand connections from one machine are one
  // client's doing, and make one line a minute.
  std::string slot = std::string(kind) + " " + address;
  const auto [it, first] = notices_.try_emplace(slot, 0);
  if (!first) {
    ++it->second;
    return;
  }
  PrintText(line, true, true);
  Later(kNoticePeriod, [this, slot = std::move(slot), kind = std::string(kind), address] {
    const auto found = notices_.find(slot);
    if (found == notices_.end()) return;
    const std::uint64_t held = found->second;
    notices_.erase(found);
    if (held > 0) {
      PrintText("... and " + WithThousands(held) + " more " + kind + " from " + address +
                    " in the last minute",
                true, true);
    }
  });
}

bool ChatServer::ChurnLinesAllowed(const std::string& address, bool accepted) {
  // Every accept and close makes a few console and log lines; a client that connects and
  // closes in a loop must not fill the disk with them. Past a few a minute from one address
  // they are counted and said in one line when the minute is over.
  constexpr std::uint32_t kLinesPerMinute = 20;
  const auto [it, first] = churn_.try_emplace(address);
  Churn& churn = it->second;
  if (first && env_.scheduler != nullptr) {
    Later(kNoticePeriod, [this, address] {
      const auto found = churn_.find(address);
      if (found == churn_.end()) return;
      const Churn held = found->second;
      churn_.erase(found);
      if (held.accepts + held.closes == 0) return;
      PrintText("... and " + WithThousands(held.accepts) + " more connections accepted and " +
                    WithThousands(held.closes) + " closed from " + address +
                    " in the last minute; " +
                    FormatCount(StringId::kUsersConnected, users_.GetCount()),
                true, true);
    });
  }
  if (churn.lines < kLinesPerMinute || env_.scheduler == nullptr) {
    ++churn.lines;
    return true;
  }
  ++(accepted ? churn.accepts : churn.closes);
  return false;
}

void ChatServer::ArmIdleCheck() {
  if (idleCheckArmed_ || settings_.IdleTimeout <= 0 || env_.scheduler == nullptr || shutDown_) {
    return;
  }
  idleCheckArmed_ = true;
  // A few looks per timeout period keep the error small without costing anything.
  const auto period = std::chrono::milliseconds(
      std::max<std::int64_t>(1000, std::int64_t{settings_.IdleTimeout} * 1000 / 4));
  Later(period, [this] {
    idleCheckArmed_ = false;
    // A reload may have turned the timeout off meanwhile.
    if (settings_.IdleTimeout > 0) CloseIdleConnections();
    ArmIdleCheck();
  });
}

std::string ChatServer::UsersOf(ConnectionKey key) const {
  std::string names;
  for (int i = 0; i < users_.GetCount(); ++i) {
    const UserRecord& record = *users_.At(i);
    if (record.connection != key) continue;
    names += names.empty() ? " (" : ", ";
    names += ClientText(record.name.empty() ? record.mac : record.name);
  }
  return names.empty() ? names : names + ")";
}

void ChatServer::CloseIdleConnections() {
  if (shutDown_) return;
  const auto now = env_.scheduler->SteadyNow();
  const std::chrono::milliseconds limit(std::int64_t{settings_.IdleTimeout} * 1000);
  std::vector<std::pair<ConnectionKey, std::string>> idle;
  for (const auto& connection : connections_.InOrder()) {
    const ConnectionList::Entry* entry = connections_.FindEntry(connection->Key());
    if (entry != nullptr && now - entry->lastInput >= limit) {
      idle.emplace_back(connection->Key(), connection->PeerAddress());
    }
  }
  for (const auto& [key, address] : idle) {
    Notice("connections closed for IdleTimeout", address,
           "Connection from " + address + UsersOf(key) + " closed: nothing received for " +
               std::to_string(settings_.IdleTimeout) + " s (IdleTimeout)");
    CloseConnection(key, address);
  }
}

void ChatServer::ReportUserCount() {
  PrintText(kDashes, false, true);
  PrintText(FormatCount(StringId::kUsersConnected, users_.GetCount()), true, true);
  PrintText(kDashes, false, true);
}

}  // namespace orv
