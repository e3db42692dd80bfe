// The engine: one state on the engine thread and the parts that work on it, each along one
// of its inputs: the relay for what the network reports, the operator service for the
// operator's commands, housekeeping for the clock. It lives on the engine thread; other
// threads reach it only by posting work there (see net/engine_host.h), and every public
// call asserts that in debug builds.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "server/engine_core.h"
#include "server/engine_event.h"
#include "server/engine_state.h"
#include "server/housekeeping.h"
#include "server/network.h"
#include "server/operator_command.h"
#include "server/operator_service.h"
#include "server/relay.h"

namespace orv {

class ChatServer final : public ConnectionEvents {
 public:
  explicit ChatServer(ServerEnvironment env);
  ~ChatServer() override;
  ChatServer(const ChatServer&) = delete;
  ChatServer& operator=(const ChatServer&) = delete;

  // Subscribers get every event published from now on (subscribe the views before the
  // start, so they see the banner and the settings report).
  EventHub::Id Subscribe(std::shared_ptr<EventSubscriber> subscriber);
  void Unsubscribe(EventHub::Id id);

  // Banner, settings report, listening, timers.
  void StartServer();
  bool IsListening() const { return state_.listening; }

  // What the network reports: handed to the relay.
  void OnAccepted(std::shared_ptr<Connection> connection) override;
  void OnReceived(Connection& connection, std::string_view data) override;
  void OnReceiveError(Connection& connection) override;
  void OnPeerClosed(Connection& connection) override;
  void OnOverflow(Connection& connection) override;
  void OnAcceptFailed(const std::string& reason) override;

  // An operator command, carried out at once; its outcome says what came of it.
  Outcome Execute(const OperatorCommand& command);
  // The settings read again (SIGHUP).
  Outcome Reload() { return operators_.Reload(); }
  // Close message to everybody, final log lines. A second call does nothing.
  void ShutdownServer();

  // Read access for the host and the tests.
  const Settings& GetSettings() const { return state_.settings; }
  const UserTable& Users() const { return state_.users; }
  const WireCodec& Codec() const { return state_.env.codec; }
  ServerStatus Status() const { return core_.Status(); }
  // The dispatcher on its own: one received unit (null connection: the server's own).
  Dispatched Dispatch(std::string_view received, Connection* connection) {
    return relay_.Dispatch(received, connection);
  }

 private:
  EngineState state_;
  EngineCore core_;
  Housekeeping housekeeping_;
  Relay relay_;
  OperatorService operators_;
};

}  // namespace orv
