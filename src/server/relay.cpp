// The life of a connection as the engine sees it: accepting (with the welcome), reading
// (hand-off to the dispatcher, relay of what it returns), failures and closes.
#include "server/relay.h"

#include <algorithm>
#include <string>
#include <utility>

#include "protocol/wire_constants.h"
#include "server/policy.h"

namespace orv {

namespace {
constexpr const char* kDashes = "--------------------------";
}  // namespace

Relay::Relay(EngineState& state, EngineCore& core, Housekeeping& housekeeping)
    : s_(state),
      core_(core),
      housekeeping_(housekeeping),
      wireTerminator_(state.env.codec.EncodeText(kTerminator)),
      startBytes_(PacketStartBytes(state.env.codec)) {}

void Relay::OnAccepted(std::shared_ptr<Connection> connection) {
  core_.AssertEngineThread();
  if (s_.shutDown || !connection) {
    if (connection) connection->Close();
    return;
  }
  acceptFailureSaid_ = false;
  const int sameAddress = s_.connections.CountFrom(connection->PeerAddress());
  if (s_.settings.MaxConnectionsPerAddress > 0 &&
      sameAddress >= s_.settings.MaxConnectionsPerAddress) {
    core_.Notice("refused connections", connection->PeerAddress(),
                 "Connection from " + connection->PeerAddress() + " refused: that address has " +
                     std::to_string(sameAddress) +
                     " connections already (MaxConnectionsPerAddress)");
    connection->Close();
    return;
  }
  core_.Trace("::: accept proccess");
  Connection& accepted = *connection;
  s_.connections.Add(std::move(connection));
  if (s_.env.scheduler != nullptr) {
    s_.connections.FindEntry(accepted.Key())->lastInput = s_.env.scheduler->SteadyNow();
  }
  core_.Trace("::: accept & add proccess OK");

  // The new client hears nothing for a moment, then the welcome; everybody else is served
  // meanwhile.
  accepted.HoldOutput(policy::kAnswerHold);
  const std::string welcome = core_.ReadMessageKey("ServerWelcomeMessage");
  if (welcome.size() > 1) {
    accepted.Send(core_.EncodePacket(welcome, packet_type::kServerText, kOwnSubject, &accepted));
  }

  if (core_.ChurnLinesAllowed(accepted.PeerAddress(), true)) {
    core_.EventLine(core_.Format(StringId::kConnectionAccepted, accepted.PeerAddress()));
    core_.ReportLine(kDashes);
  }
  core_.RequestRefresh();
  housekeeping_.ConnectionAccepted();
  core_.Trace("::: accept proccess OK");
}

void Relay::OnReceived(Connection& connection, std::string_view data) {
  core_.AssertEngineThread();
  if (s_.shutDown) return;
  const ConnectionKey key = connection.Key();
  ConnectionList::Entry* entry = s_.connections.FindEntry(key);
  if (entry == nullptr || entry->kicked) return;
  if (s_.settings.IdleTimeout > 0) entry->lastInput = s_.env.scheduler->SteadyNow();
  s_.counters.bytesReceived += data.size();
  // TCP splits and joins what clients write: each complete packet is acted on in turn.
  const auto limit = static_cast<std::size_t>(std::max(s_.settings.MaxPacketSize, 64));
  const Framing framing{wireTerminator_, limit, &startBytes_};
  const auto result = entry->input.Feed(
      data, framing,
      [&](std::string_view packet) {
        ++s_.counters.packetsReceived;
        const bool relayed = ReadMessage(connection, packet);
        ConnectionList::Entry* still = s_.connections.FindEntry(key);
        if (still == nullptr || still->kicked) return false;
        still->lastRelayed = relayed;
        return true;
      },
      [&](std::string_view trailer) {
        // The characters a client writes after its packet go where the packet went.
        if (entry->lastRelayed) core_.AppendToRelay(trailer);
      });
  core_.FlushRelay();
  if (result == PacketAssembler::Result::kOverflow) {
    core_.Notice("connections closed for MaxPacketSize", connection.PeerAddress(),
                 "Connection from " + connection.PeerAddress() + core_.UsersOf(key) +
                     " closed: it sent more than " + std::to_string(limit) +
                     " bytes without ending a packet (MaxPacketSize)");
    core_.CloseConnection(key, connection.PeerAddress());
  }
}

void Relay::OnReceiveError(Connection& connection) {
  core_.AssertEngineThread();
  if (s_.shutDown) return;
  const ConnectionKey key = connection.Key();
  if (s_.connections.Find(key) == nullptr) return;
  if (!s_.connections.IsKicked(key)) {
    ReadMessage(connection, kSocketErrorNotice);
    core_.FlushRelay();
  }
  // The socket is gone: remove the connection and its user, so that no stale row stays.
  core_.CloseConnection(key, connection.PeerAddress());
}

void Relay::OnPeerClosed(Connection& connection) {
  core_.AssertEngineThread();
  if (s_.shutDown || s_.connections.Find(connection.Key()) == nullptr) return;
  core_.CloseConnection(connection.Key(), connection.PeerAddress());
}

void Relay::OnOverflow(Connection& connection) {
  core_.AssertEngineThread();
  if (s_.shutDown || s_.connections.Find(connection.Key()) == nullptr) return;
  core_.Notice("slow readers closed", connection.PeerAddress(),
               "Connection from " + connection.PeerAddress() + core_.UsersOf(connection.Key()) +
                   " closed: it does not read what the server sends");
  core_.CloseConnection(connection.Key(), connection.PeerAddress());
}

void Relay::OnAcceptFailed(const std::string& reason) {
  core_.AssertEngineThread();
  if (s_.shutDown || acceptFailureSaid_) return;
  // Said once; the listener keeps trying and the next accepted connection ends the spell.
  acceptFailureSaid_ = true;
  core_.EventLine("Cannot accept new connections: " + reason +
                  "; the server keeps serving those it has and tries again");
}

bool Relay::ReadMessage(Connection& connection, std::string_view text) {
  core_.Trace("::: read proccess");
  if (Dispatch(text, &connection) == Dispatched::kRefused) return false;
  core_.Trace("::: read proccess OK");
  core_.AppendToRelay(text);
  return true;
}

}  // namespace orv
