#include "server/chat_server.h"

#include <utility>

#include "console/version.h"
#include "moderation/settings_loader.h"
#include "protocol/wire_constants.h"
#include "server/policy.h"

namespace orv {

namespace {
constexpr const char* kDashes = "--------------------------";
}  // namespace

ChatServer::ChatServer(ServerEnvironment env)
    : state_(std::move(env)),
      core_(state_),
      housekeeping_(state_, core_),
      relay_(state_, core_, housekeeping_),
      operators_(state_, core_, housekeeping_) {}

ChatServer::~ChatServer() {
  // Deferred work that outlives the engine does nothing.
  *state_.alive = false;
  housekeeping_.Stop();
}

EventHub::Id ChatServer::Subscribe(std::shared_ptr<EventSubscriber> subscriber) {
  core_.AssertEngineThread();
  return state_.events.Subscribe(std::move(subscriber));
}

void ChatServer::Unsubscribe(EventHub::Id id) {
  core_.AssertEngineThread();
  state_.events.Unsubscribe(id);
}

void ChatServer::StartServer() {
  core_.AssertEngineThread();
  Settings& settings = state_.settings;
  settings.versionText = state_.env.programVersion + " beta";
  settings.ServerAllowLog = true;
  settings.MaxLineMessage = policy::kDefaultConsoleLines;
  state_.events.Publish(event::Title{kProductName});
  core_.ReportLine(std::string(kProductName) + " " + settings.versionText);
  core_.ReportLine(kDashes);

  SettingsLoadContext context{
      state_.env.workDir,
      settings,
      state_.language,
      state_.log,
      state_.console,
      [this](const std::string& title) { state_.events.Publish(event::Title{title}); },
      state_.env.lookupMac};
  LoadSettings(context);
  state_.board.SetLimits(settings.BoardQuota, settings.BoardFileLimit);
  state_.log.SetDayLimit(settings.LogDayLimit);
  core_.AnnounceTexts();
  state_.events.Publish(event::Tooltip{std::string(kProductName) + " (" + settings.ServerName +
                                       ") / " + settings.versionText});
  housekeeping_.PruneLogs();

  core_.ReportLine(kDashes);
  core_.ReportLine("\r");

  std::string error;
  if (state_.env.network != nullptr) state_.env.network->SetInputRate(settings.MaxInputRate);
  state_.listening =
      state_.env.network != nullptr &&
      state_.env.network->Listen(settings.ServerIP, settings.ServerPort, *this, &error);
  state_.listenError = state_.listening ? std::string()
                       : error.empty()  ? std::string("no network")
                                        : error;
  if (state_.env.scheduler != nullptr) {
    state_.startedAtMs = state_.env.scheduler->SteadyNow().count();
  }
  core_.LookAtMachineAddresses();
  if (state_.listening) {
    core_.EventLine(state_.language.GetString(StringId::kServerStarted));
    if (settings.ServerIP.empty()) {
      // What the admin must tell the users: 0.0.0.0 is no address a client can use.
      std::string where;
      for (const std::string& address : state_.machineAddresses)
        where += (where.empty() ? "" : ", ") + address + ":" + std::to_string(settings.ServerPort);
      core_.EventLine("Listening on every address of this machine; clients connect to " + where);
    }
    core_.EventLine(state_.language.GetString(StringId::kWaitingForConnections));
  } else {
    core_.ReportLine(std::string(72, '.'));
    core_.EventLine(state_.language.GetString(StringId::kListenFailed));
    if (!error.empty()) core_.EventLine(error);
    core_.ReportLine("");
  }
  housekeeping_.ConnectionAccepted();  // the first list refresh, a while after the start
  housekeeping_.Start();
  state_.events.Publish(event::Status{core_.Status()});
}

void ChatServer::OnAccepted(std::shared_ptr<Connection> connection) {
  relay_.OnAccepted(std::move(connection));
}
void ChatServer::OnReceived(Connection& connection, std::string_view data) {
  relay_.OnReceived(connection, data);
}
void ChatServer::OnReceiveError(Connection& connection) {
  relay_.OnReceiveError(connection);
}
void ChatServer::OnPeerClosed(Connection& connection) {
  relay_.OnPeerClosed(connection);
}
void ChatServer::OnOverflow(Connection& connection) {
  relay_.OnOverflow(connection);
}
void ChatServer::OnAcceptFailed(const std::string& reason) {
  relay_.OnAcceptFailed(reason);
}

Outcome ChatServer::Execute(const OperatorCommand& command) {
  return operators_.Execute(command);
}

void ChatServer::ShutdownServer() {
  core_.AssertEngineThread();
  if (state_.shutDown) return;
  // Packets the server makes are never refused: a client that claimed the server's address
  // or name and got blocked must not silence the operator.
  const std::string closeMessage = core_.ReadMessageKey("ServerCloseMessage");
  if (closeMessage.size() > 1) {
    core_.BroadcastServerPacket(closeMessage, packet_type::kServerText, kOwnSubject);
  }
  state_.shutDown = true;
  housekeeping_.Stop();
  state_.users = UserTable();
  // On the console too: whoever watches (a terminal, the journal) sees the run end.
  const std::string stopped = state_.language.GetString(StringId::kServerStopped);
  state_.console.ScreenLine(stopped);
  state_.log.AppendLog(stopped, true);
  state_.log.AppendLog("\r\n\r\n", false);
  state_.log.FinishDay();
}

}  // namespace orv
