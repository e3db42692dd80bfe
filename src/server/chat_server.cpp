#include "server/chat_server.h"

#include <cassert>
#include <utility>

#include "console/escape.h"
#include "console/safe_format.h"
#include "console/version.h"
#include "moderation/alphabet_settings.h"
#include "moderation/mac_lookup.h"
#include "moderation/settings_check.h"
#include "moderation/settings_loader.h"

namespace orv {

namespace {

constexpr const char* kDashes = "--------------------------";
constexpr std::chrono::milliseconds kListRefreshPeriod{3000};
constexpr std::chrono::hours kLogPrunePeriod{1};

std::string AddressText(const std::string& ip, std::int32_t port) {
  return (ip.empty() ? std::string("0.0.0.0") : ip) + ":" + std::to_string(port);
}

}  // namespace

ChatServer::ChatServer(ServerEnvironment env)
    : env_(std::move(env)),
      log_(env_.workDir, *env_.clock),
      tee_(*env_.view),
      console_(settings_, log_, *env_.clock, tee_),
      packets_(settings_),
      blockList_(env_.workDir),
      afsList_(env_.workDir),
      settingsFile_(env_.workDir / kSettingsFileName),
      commandFile_(env_.workDir / kCommandFileName),
      board_(env_.workDir),
      wireTerminator_(env_.codec.EncodeText(kTerminator)),
      startBytes_(PacketStartBytes(env_.codec)) {
  if (!env_.lookupMac) env_.lookupMac = LookupMacAddress;
  if (!env_.machineAddresses) env_.machineAddresses = MachineAddresses;
}

ChatServer::~ChatServer() {
  *alive_ = false;
  if (listTimerArmed_) env_.scheduler->Cancel(listTimer_);
}

void ChatServer::AssertEngineThread() const {
  // Nothing here is locked: everything must run on the thread that made the engine.
  assert(std::this_thread::get_id() == engineThread_);
}

void ChatServer::StartServer() {
  AssertEngineThread();
  settings_.versionText = env_.programVersion + " beta";
  settings_.ServerAllowLog = true;
  settings_.MaxLineMessage = 300;
  env_.view->TitleChanged(kProductName);
  PrintText(std::string(kProductName) + " " + settings_.versionText, false, true);
  PrintText(kDashes, false, true);

  SettingsLoadContext context{
      env_.workDir,  settings_,
      language_,     log_,
      console_,      [this](const std::string& title) { env_.view->TitleChanged(title); },
      env_.lookupMac};
  LoadSettings(context);
  board_.SetLimits(settings_.BoardQuota, settings_.BoardFileLimit);
  AnnounceTexts();
  env_.view->TooltipChanged(std::string(kProductName) + " (" + settings_.ServerName + ") / " +
                            settings_.versionText);
  PruneLogs();

  PrintText(kDashes, false, true);
  PrintText("\r", false, true);

  std::string error;
  if (env_.network != nullptr) env_.network->SetInputRate(settings_.MaxInputRate);
  listening_ = env_.network != nullptr &&
               env_.network->Listen(settings_.ServerIP, settings_.ServerPort, *this, &error);
  listenError_ = listening_ ? std::string() : error.empty() ? std::string("no network") : error;
  if (env_.scheduler != nullptr) startedAtMs_ = env_.scheduler->SteadyNow().count();
  LookAtMachineAddresses();
  if (listening_) {
    PrintText(language_.GetString(StringId::kServerStarted), true, true);
    if (settings_.ServerIP.empty()) {
      // What the admin must tell the users: 0.0.0.0 is no address a client can use.
      std::string where;
      for (const std::string& address : machineAddresses_)
        where += (where.empty() ? "" : ", ") + address + ":" + std::to_string(settings_.ServerPort);
      PrintText("Listening on every address of this machine; clients connect to " + where, true,
                true);
    }
    PrintText(language_.GetString(StringId::kWaitingForConnections), true, true);
  } else {
    PrintText(std::string(72, '.'), false, true);
    PrintText(language_.GetString(StringId::kListenFailed), true, true);
    if (!error.empty()) PrintText(error, true, true);
    PrintText("", false, true);
  }
  ArmListRefreshTimer();
  ArmIdleCheck();
  ArmLogPruning();
  env_.view->StatusChanged(Status());
}

void ChatServer::AnnounceTexts() {
  ViewTexts texts;
  for (int n = 0; n < kStringCount; ++n)
    texts.strings.push_back(language_.GetString(n));
  texts.floodStopper = settings_.FloodStopper;
  texts.serverName = settings_.ServerName;
  env_.view->TextsLoaded(texts);
}

bool ChatServer::Reload() {
  AssertEngineThread();
  if (shutDown_) return false;
  const std::filesystem::path file = env_.workDir / kSettingsFileName;
  std::vector<SettingsProblem> problems = CheckSettingsFile(file);
  std::string alphabetError;
  const std::optional<WireCodec> codec = CodecFromSettings(file, &alphabetError);
  if (!codec) problems.push_back({true, alphabetError});
  int errors = 0;
  for (const SettingsProblem& problem : problems) {
    if (!problem.error) continue;
    ++errors;
    PrintText(problem.text, true, true);
  }
  if (errors > 0) {
    PrintText("Settings not reloaded: " + std::to_string(errors) +
                  (errors == 1 ? " problem" : " problems") + " in " + file.string() +
                  "; the server goes on with the settings it has",
              true, true);
    return false;
  }

  PrintText("Reloading the settings from " + file.string(), true, true);
  Settings fresh;
  fresh.versionText = settings_.versionText;
  SettingsLoadContext context{env_.workDir, fresh, language_, log_, console_,
                              [this](const std::string& title) { env_.view->TitleChanged(title); },
                              // The address stays as it is, and with it the MAC.
                              [](const std::string& ip) { return ip; }};
  LoadSettings(context);
  const std::string newAddress = AddressText(fresh.ServerIP, fresh.ServerPort);
  const std::string oldAddress = AddressText(settings_.ServerIP, settings_.ServerPort);
  fresh.ServerIP = settings_.ServerIP;
  fresh.ServerPort = settings_.ServerPort;
  fresh.serverMac = settings_.serverMac;
  const bool idleTimeoutStarts = fresh.IdleTimeout > 0 && settings_.IdleTimeout <= 0;
  settings_ = fresh;
  if (idleTimeoutStarts && env_.scheduler != nullptr) {
    // Nobody was timed while no timeout was set: every connection starts afresh now.
    const auto now = env_.scheduler->SteadyNow();
    for (const auto& connection : connections_.InOrder()) {
      if (ConnectionList::Entry* entry = connections_.FindEntry(connection->Key())) {
        entry->lastInput = now;
      }
    }
  }

  board_.SetLimits(settings_.BoardQuota, settings_.BoardFileLimit);
  if (env_.network != nullptr) env_.network->SetInputRate(settings_.MaxInputRate);
  LookAtMachineAddresses();
  AnnounceTexts();
  env_.view->TooltipChanged(TooltipText());
  ArmIdleCheck();
  PruneLogs();
  ArmLogPruning();
  if (newAddress != oldAddress) {
    PrintText("The settings now say " + newAddress + "; the server keeps listening on " +
                  oldAddress + " until it is restarted",
              true, true);
  }
  if (codec->PlainAlphabet() != env_.codec.PlainAlphabet() ||
      codec->WireAlphabet() != env_.codec.WireAlphabet()) {
    PrintText(
        "The alphabets in the settings changed; the server keeps those it has until it "
        "is restarted",
        true, true);
  }
  PrintText("Settings reloaded", true, true);
  return true;
}

std::vector<std::string> ChatServer::CaptureConsole(const std::function<void()>& action) {
  AssertEngineThread();
  std::vector<std::string> lines;
  std::vector<std::string>* outer = tee_.capture;
  tee_.capture = &lines;
  action();
  tee_.capture = outer;
  if (outer != nullptr) outer->insert(outer->end(), lines.begin(), lines.end());
  return lines;
}

void ChatServer::PruneLogs() {
  const int removed = log_.PruneOldLogs(settings_.LogKeepDays);
  if (removed > 0) {
    PrintText("Removed " + std::to_string(removed) + (removed == 1 ? " day log" : " day logs") +
                  " older than " + std::to_string(settings_.LogKeepDays) +
                  " days from logs/ (LogKeepDays)",
              true, true);
  }
}

void ChatServer::ArmLogPruning() {
  if (logPruningArmed_ || settings_.LogKeepDays <= 0 || env_.scheduler == nullptr || shutDown_) {
    return;
  }
  logPruningArmed_ = true;
  Later(kLogPrunePeriod, [this] {
    logPruningArmed_ = false;
    PruneLogs();
    ArmLogPruning();
  });
}

ServerStatus ChatServer::Status() const {
  AssertEngineThread();
  ServerStatus status;
  status.version = settings_.versionText;
  status.address = settings_.ServerIP;
  status.port = settings_.ServerPort;
  if (settings_.ServerIP.empty()) {
    status.clientAddresses = machineAddresses_;
  } else {
    status.clientAddresses.push_back(settings_.ServerIP);
  }
  status.listening = listening_;
  status.notListeningReason = listenError_;
  status.users = users_.GetCount();
  status.startedAtMs = startedAtMs_;
  status.takenAtMs = env_.scheduler != nullptr ? env_.scheduler->SteadyNow().count() : 0;
  return status;
}

std::string ChatServer::Format(StringId id, std::string_view arg) const {
  // The argument is a name, an address or a MAC, most of them as a client gave them.
  return FormatWithText(language_.GetString(id), EscapeControlCharacters(arg));
}

std::string ChatServer::FormatCount(StringId id, std::int64_t arg) const {
  return FormatWithInt(language_.GetString(id), arg);
}

std::string ChatServer::CreatePacket(std::string_view payload, std::int32_t type,
                                     std::string_view subject, const Connection* to) {
  Trace("::: create packet");
  std::string packet = packets_.CreatePacket(payload, type, subject, IdentityFor(to));
  Trace("::: create packet OK");
  return packet;
}

SharedBytes ChatServer::EncodePacket(std::string_view payload, std::int32_t type,
                                     std::string_view subject, const Connection* to) {
  return std::make_shared<const std::string>(
      env_.codec.EncodeText(CreatePacket(payload, type, subject, to)));
}

const ServerIdentity& ChatServer::IdentityFor(const Connection* to) {
  configuredIdentity_.ip = settings_.ServerIP;
  configuredIdentity_.mac = settings_.serverMac;
  if (!settings_.ServerIP.empty() || to == nullptr || to->LocalAddress().empty()) {
    return configuredIdentity_;
  }
  // Listening on every address: each client hears the server under the address it reached
  // (a machine on two networks is known by a different one on each), with that interface's
  // MAC. A machine has few addresses, so this stays small.
  const std::string& local = to->LocalAddress();
  auto found = identities_.find(local);
  if (found == identities_.end()) {
    found = identities_
                .emplace(local, ServerIdentity{local, MakeServerMac(local, env_.lookupMac(local))})
                .first;
  }
  return found->second;
}

void ChatServer::BroadcastServerPacket(std::string_view payload, std::int32_t type,
                                       std::string_view subject) {
  FlushRelay();
  if (!settings_.ServerIP.empty()) {
    Broadcast(EncodePacket(payload, type, subject, nullptr));
    return;
  }
  Trace("::: send2 proccess");
  // One buffer for each local address, shared by the connections that reached it.
  std::unordered_map<std::string, SharedBytes> made;
  for (const auto& connection : connections_.InOrder()) {
    if (connections_.IsKicked(connection->Key())) continue;
    SharedBytes& bytes = made[connection->LocalAddress()];
    if (!bytes) bytes = EncodePacket(payload, type, subject, connection.get());
    connection->Send(bytes);
  }
  Trace("::: send2 proccess OK");
}

void ChatServer::SendDirect(Connection* connection, SharedBytes packet, bool hold) {
  if (!connection) return;
  FlushRelay();
  connection->Send(std::move(packet));
  // The answer arrives on its own; this connection's next output waits behind it, while
  // every other connection is served meanwhile.
  if (hold) connection->HoldOutput(std::chrono::milliseconds(500));
}

std::string ChatServer::ReadCommandText(const std::string& key) {
  std::string text = commandFile_.Read(key);
  if (text != kReadFalse) {
    commandFileMissingSaid_ = false;
    return text;
  }
  // A missing file is no text to send anybody; the operator hears of it once.
  if (!commandFileMissingSaid_) {
    commandFileMissingSaid_ = true;
    PrintText("The command file " + commandFile_.Path().string() +
                  " cannot be read: command answers and profile texts stay empty until it is",
              true, true);
  }
  return {};
}

std::string ChatServer::ReadMessageKey(const char* key) {
  // A settings file that went away while we run must not turn into a message text.
  std::string value = settingsFile_.Read(key);
  if (value == kReadFalse) value.clear();
  return value;
}

std::string ChatServer::BuildServerProfile(const Connection* to) {
  return packets_.BuildServerProfile(IdentityFor(to),
                                     [this](const char* key) { return ReadCommandText(key); });
}

Scheduler::TimerId ChatServer::Later(std::chrono::milliseconds delay, std::function<void()> task) {
  std::weak_ptr<bool> alive = alive_;
  return env_.scheduler->RunAfter(delay, [alive, task = std::move(task)] {
    if (auto token = alive.lock(); token && *token) task();
  });
}

void ChatServer::ArmListRefreshTimer() {
  if (shutDown_ || env_.scheduler == nullptr) return;
  if (listTimerArmed_) env_.scheduler->Cancel(listTimer_);
  listTimerArmed_ = true;
  listTimer_ = Later(kListRefreshPeriod, [this] {
    listTimerArmed_ = false;
    RefreshUserList();
  });
}

std::string ChatServer::TooltipText() const {
  return std::string(kProductName) + " (" + settings_.ServerName + ") / " + settings_.versionText +
         "\n" + kDashes + "\n" + FormatCount(StringId::kUsersOnline, users_.GetCount());
}

UserRow ChatServer::MakeRow(int index) const {
  UserRow row;
  if (const UserRecord* record = users_.At(index)) {
    row.mac = record->mac;
    row.name = record->name;
    row.reportedIp = record->reportedIp;
    row.peerAddress = record->peerAddress;
    row.blockState = record->blockState;
    row.blockText = BlockStateText(record->blockState);
    if (record->blockState == BlockState::kIp) {
      // A block by IP refuses the connection's address too: the row says which of the two
      // addresses the list holds.
      const bool reported =
          blockList_.CheckBlockList(record->reportedIp, {}, {}) == BlockState::kIp;
      const bool connection = record->peerAddress != record->reportedIp &&
                              blockList_.IsAddressBlocked(record->peerAddress);
      if (connection) row.blockText = reported ? "IP + address" : "address";
    }
    row.afs = record->afs;
  }
  return row;
}

std::vector<UserRow> ChatServer::Rows() const {
  AssertEngineThread();
  std::vector<UserRow> rows;
  rows.reserve(static_cast<std::size_t>(users_.GetCount()));
  for (int i = 0; i < users_.GetCount(); ++i)
    rows.push_back(MakeRow(i));
  return rows;
}

void ChatServer::RequestRefresh() {
  if (shutDown_ || refreshPending_) return;
  if (env_.scheduler == nullptr) {
    RefreshUserList();
    return;
  }
  refreshPending_ = true;
  Later(std::chrono::milliseconds(0), [this] {
    refreshPending_ = false;
    RefreshUserList();
  });
}

void ChatServer::RefreshUserList() {
  AssertEngineThread();
  if (shutDown_) return;
  Trace("::: list proccess");
  // A record without a MAC cannot be shown: its connection is closed. (Records are no longer
  // made without one; this guards the view all the same.)
  for (int i = 0; i < users_.GetCount();) {
    const UserRecord& record = *users_.At(i);
    if (!record.mac.empty()) {
      ++i;
      continue;
    }
    const int before = users_.GetCount();
    CloseConnection(record.connection, "isBug?");
    if (users_.GetCount() == before) ++i;
  }
  env_.view->TooltipChanged(TooltipText());
  // A view without a list of its own gets no snapshot: in a login storm this runs often,
  // over every user.
  const bool wantRows = env_.view->WantsUserRows();
  std::vector<UserRow> rows;
  if (wantRows) rows.reserve(static_cast<std::size_t>(users_.GetCount()));
  for (int i = 0; i < users_.GetCount(); ++i) {
    const UserRecord& record = *users_.At(i);
    if (settings_.DebugLog) {
      Trace("::: list proccess (1) " + record.mac);
      if (!record.name.empty()) Trace("::: list proccess (2) " + record.name);
      if (!record.reportedIp.empty()) Trace("::: list proccess (3) " + record.reportedIp);
      if (!record.peerAddress.empty()) Trace("::: list proccess (4) " + record.peerAddress);
      Trace("::: list proccess (5) " + std::to_string(static_cast<int>(record.blockState)));
    }
    if (wantRows) rows.push_back(MakeRow(i));
  }
  if (wantRows) env_.view->UserRowsReplaced(rows);
  env_.view->StatusChanged(Status());
  SendAfsValues();
  Trace("::: list proccess OK");
}

void ChatServer::SendAfsValues() {
  FlushRelay();
  Trace("::: AFS proccess");
  const int n = users_.GetCount();
  // Users with the same value (who reached the same address) share one encoded packet.
  std::int32_t lastValue = 0;
  const ServerIdentity* lastIdentity = nullptr;
  SharedBytes lastPacket;
  for (int i = 0; i < n; ++i) {
    // Sending never touches the table, so the record can be read in place.
    const UserRecord& record = *users_.At(i);
    Connection* connection = connections_.Find(record.connection);
    if (connection == nullptr) continue;
    const std::int32_t value = record.afs < 0 ? settings_.FloodStopper : record.afs;
    const ServerIdentity* identity = &IdentityFor(connection);
    if (!lastPacket || value != lastValue || identity != lastIdentity) {
      lastPacket =
          EncodePacket(std::to_string(value), packet_type::kAfsValue, kOwnSubject, connection);
      lastValue = value;
      lastIdentity = identity;
    }
    connection->Send(lastPacket);
  }
  Trace("::: AFS proccess OK");
}

void ChatServer::OnSend(const std::string& text) {
  AssertEngineThread();
  if (shutDown_ || text.empty()) return;
  auto isSpace = [](unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && isSpace(static_cast<unsigned char>(text[first])))
    ++first;
  while (last > first && isSpace(static_cast<unsigned char>(text[last - 1])))
    --last;
  if (last - first < 2) return;
  const std::string_view message = std::string_view(text).substr(first, last - first);
  // The operator's own words belong in the record of what happened, like everything else.
  PrintText("Operator message: " + EscapeControlCharacters(message), true, true);
  BroadcastAsServer(message);
}

void ChatServer::BroadcastAsServer(std::string_view text) {
  AssertEngineThread();
  if (shutDown_) return;
  // Packets the server makes are never refused: a client that claimed the server's address
  // or name and got blocked must not silence the operator.
  BroadcastServerPacket(text, packet_type::kServerText, kOwnSubject);
}

void ChatServer::LookAtMachineAddresses() {
  // A laptop's address changes with the network it is on.
  if (settings_.ServerIP.empty()) machineAddresses_ = env_.machineAddresses();
}

void ChatServer::OnRefresh() {
  AssertEngineThread();
  if (shutDown_) return;
  LookAtMachineAddresses();
  ReportUserCount();
  RefreshUserList();
}

void ChatServer::ShutdownServer() {
  AssertEngineThread();
  if (shutDown_) return;
  const std::string closeMessage = ReadMessageKey("ServerCloseMessage");
  if (closeMessage.size() > 1) BroadcastAsServer(closeMessage);
  shutDown_ = true;
  if (listTimerArmed_) {
    env_.scheduler->Cancel(listTimer_);
    listTimerArmed_ = false;
  }
  users_ = UserTable();
  // On the console too: whoever watches (a terminal, the journal) sees the run end.
  PrintText(language_.GetString(StringId::kServerStopped), true, false);
  log_.AppendLog(language_.GetString(StringId::kServerStopped), true);
  log_.AppendLog("\r\n\r\n", false);
}

}  // namespace orv
