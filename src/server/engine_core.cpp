#include "server/engine_core.h"

#include <cassert>
#include <utility>

#include "console/escape.h"
#include "console/safe_format.h"
#include "console/version.h"
#include "moderation/settings_loader.h"
#include "protocol/wire_constants.h"
#include "server/policy.h"

namespace orv {

namespace {

constexpr const char* kDashes = "--------------------------";

// 2413 as "2,413".
std::string WithThousands(std::uint64_t n) {
  std::string digits = std::to_string(n);
  for (std::size_t at = digits.size(); at > 3; at -= 3)
    digits.insert(at - 3, ",");
  return digits;
}

}  // namespace

void EngineCore::AssertEngineThread() const {
  // Nothing here is locked: everything must run on the thread that made the engine.
  assert(std::this_thread::get_id() == s_.engineThread);
}

std::string EngineCore::Format(StringId id, std::string_view arg) const {
  // The argument is a name, an address or a MAC, most of them as a client gave them: escaped
  // and cut short.
  return FormatWithText(s_.language.GetString(id), ClientText(arg));
}

std::string EngineCore::FormatCount(StringId id, std::int64_t arg) const {
  return FormatWithInt(s_.language.GetString(id), arg);
}

Scheduler::TimerId EngineCore::Later(std::chrono::milliseconds delay, std::function<void()> task) {
  std::weak_ptr<bool> alive = s_.alive;
  return s_.env.scheduler->RunAfter(delay, [alive, task = std::move(task)] {
    if (auto token = alive.lock(); token && *token) task();
  });
}

void EngineCore::Notice(std::string_view kind, const std::string& address,
                        const std::string& line) {
  // Per address, not per connection: a thousand connections from one machine are one
  // client's doing, and make one line a period.
  ++s_.counters.notices[std::string(kind)];
  std::string slot = std::string(kind) + " " + address;
  const auto [it, first] = notices_.try_emplace(slot, 0);
  if (!first) {
    ++it->second;
    return;
  }
  EventLine(line);
  if (s_.env.scheduler == nullptr) {
    notices_.erase(slot);
    return;
  }
  Later(policy::kNoticePeriod, [this, slot = std::move(slot), kind = std::string(kind), address] {
    const auto found = notices_.find(slot);
    if (found == notices_.end()) return;
    const std::uint64_t held = found->second;
    notices_.erase(found);
    if (held > 0) {
      EventLine("... and " + WithThousands(held) + " more " + kind + " from " + address +
                " in the last minute");
    }
  });
}

bool EngineCore::ChurnLinesAllowed(const std::string& address, bool accepted) {
  // Every accept and close makes a few console and log lines; a client that connects and
  // closes in a loop must not fill the disk with them. Past a few a period from one address
  // they are counted and said in one line when the period is over.
  if (s_.env.scheduler == nullptr) return true;
  const auto [it, first] = churn_.try_emplace(address);
  Churn& churn = it->second;
  if (first) {
    Later(policy::kNoticePeriod, [this, address] {
      const auto found = churn_.find(address);
      if (found == churn_.end()) return;
      const Churn held = found->second;
      churn_.erase(found);
      if (held.accepts + held.closes == 0) return;
      EventLine("... and " + WithThousands(held.accepts) + " more connections accepted and " +
                WithThousands(held.closes) + " closed from " + address + " in the last minute; " +
                FormatCount(StringId::kUsersConnected, s_.users.GetCount()));
    });
  }
  if (churn.lines < policy::kChurnLinesPerPeriod) {
    ++churn.lines;
    return true;
  }
  ++(accepted ? churn.accepts : churn.closes);
  return false;
}

const ServerIdentity& EngineCore::IdentityFor(const Connection* to) {
  configuredIdentity_.ip = s_.settings.ServerIP;
  configuredIdentity_.mac = s_.settings.serverMac;
  if (!s_.settings.ServerIP.empty() || to == nullptr || to->LocalAddress().empty()) {
    return configuredIdentity_;
  }
  // Listening on every address: each client hears the server under the address it reached
  // (a machine on two networks is known by a different one on each), with that interface's
  // MAC. A machine has few addresses, so this stays small.
  const std::string& local = to->LocalAddress();
  auto found = identities_.find(local);
  if (found == identities_.end()) {
    const ServerIdentity identity{local, MakeServerMac(local, s_.env.lookupMac(local))};
    found = identities_.emplace(local, identity).first;
  }
  return found->second;
}

std::string EngineCore::CreatePacket(std::string_view payload, std::int32_t type,
                                     std::string_view subject, const Connection* to) {
  Trace("::: create packet");
  std::string packet = s_.packets.CreatePacket(payload, type, subject, IdentityFor(to));
  Trace("::: create packet OK");
  return packet;
}

SharedBytes EngineCore::EncodePacket(std::string_view payload, std::int32_t type,
                                     std::string_view subject, const Connection* to) {
  return SharedBytes::Make(s_.env.codec.EncodeText(CreatePacket(payload, type, subject, to)));
}

void EngineCore::BroadcastServerPacket(std::string_view payload, std::int32_t type,
                                       std::string_view subject) {
  FlushRelay();
  if (!s_.settings.ServerIP.empty()) {
    Broadcast(EncodePacket(payload, type, subject, nullptr));
    return;
  }
  Trace("::: send2 proccess");
  // One buffer for each local address, shared by the connections that reached it.
  std::unordered_map<std::string, SharedBytes> made;
  for (const auto& connection : s_.connections.InOrder()) {
    if (s_.connections.IsKicked(connection->Key())) continue;
    SharedBytes& bytes = made[connection->LocalAddress()];
    if (!bytes) bytes = EncodePacket(payload, type, subject, connection.get());
    connection->Send(bytes);
    ++s_.counters.deliveries;
  }
  Trace("::: send2 proccess OK");
}

void EngineCore::SendDirect(Connection* connection, SharedBytes packet, After after) {
  if (!connection) return;
  FlushRelay();
  connection->Send(std::move(packet));
  ++s_.counters.deliveries;
  // The answer arrives on its own; this connection's next output waits behind it, while
  // every other connection is served meanwhile.
  if (after == After::kHold) connection->HoldOutput(policy::kAnswerHold);
}

void EngineCore::AppendToRelay(std::string_view text) {
  // Made as the buffer every receiver shares, so relaying copies the bytes once.
  if (!relayBatch_) relayBatch_ = SharedBytes::Make();
  relayBatch_.Unshared().append(text);
}

void EngineCore::FlushRelay() {
  if (!relayBatch_) return;
  SharedBytes batch = std::move(relayBatch_);
  relayBatch_.reset();
  Broadcast(std::move(batch));
}

int EngineCore::Broadcast(SharedBytes bytes) {
  if (!bytes || bytes->empty()) return 0;
  Trace("::: send2 proccess");
  // One buffer for every receiver.
  std::uint64_t sent = 0;
  for (const auto& connection : s_.connections.InOrder()) {
    if (s_.connections.IsKicked(connection->Key())) continue;
    connection->Send(bytes);
    ++sent;
  }
  s_.counters.deliveries += sent;
  Trace("::: send2 proccess OK");
  return 1;
}

void EngineCore::CloseConnection(ConnectionKey key, const std::string& address) {
  FlushRelay();
  const std::shared_ptr<Connection> connection = s_.connections.Remove(key);
  if (!connection) {
    // No connection, or closed already: nothing to remove.
    EventLine(Format(StringId::kCloseUnknown, address));
    return;
  }
  Trace("::: close proccess");
  const bool said = ChurnLinesAllowed(connection->PeerAddress(), false);
  if (said) EventLine(Format(StringId::kConnectionClosed, address) + UsersOf(key));
  if (s_.events.WantsUserEvents() && s_.users.CountFor(key) > 0) {
    for (int i = 0; i < s_.users.GetCount(); ++i) {
      if (s_.users.At(i)->connection == key) s_.events.Publish(event::UserLeft{MakeRow(i)});
    }
  }
  s_.users.RemoveByConnectionKey(key);
  if (said) {
    EventLine(FormatCount(StringId::kUsersConnected, s_.users.GetCount()));
    ReportLine(kDashes);
  }
  Trace("::: close proccess OK");
  RequestRefresh();
  connection->Close();
}

std::string EngineCore::UsersOf(ConnectionKey key) const {
  std::string names;
  if (s_.users.CountFor(key) == 0) return names;
  for (int i = 0; i < s_.users.GetCount(); ++i) {
    const UserRecord& record = *s_.users.At(i);
    if (record.connection != key) continue;
    names += names.empty() ? " (" : ", ";
    names += ClientText(record.name.empty() ? record.mac : record.name);
  }
  return names.empty() ? names : names + ")";
}

void EngineCore::RequestRefresh() {
  if (s_.shutDown || refreshPending_) return;
  if (s_.env.scheduler == nullptr) {
    RefreshUserList();
    return;
  }
  refreshPending_ = true;
  Later(std::chrono::milliseconds(0), [this] {
    refreshPending_ = false;
    RefreshUserList();
  });
}

void EngineCore::RefreshUserList() {
  AssertEngineThread();
  if (s_.shutDown) return;
  Trace("::: list proccess");
  // A record without a MAC cannot be shown: its connection is closed. (Records are no longer
  // made without one; this guards the view all the same.)
  for (int i = 0; i < s_.users.GetCount();) {
    const UserRecord& record = *s_.users.At(i);
    if (!record.mac.empty()) {
      ++i;
      continue;
    }
    const int before = s_.users.GetCount();
    CloseConnection(record.connection, "(a user without a MAC)");
    if (s_.users.GetCount() == before) ++i;
  }
  s_.events.Publish(event::Tooltip{TooltipText()});
  // Nobody who keeps no list of its own gets a snapshot: in a login storm this runs often,
  // over every user.
  const bool wantRows = s_.events.WantsUserList();
  std::vector<UserRow> rows;
  if (wantRows) rows.reserve(static_cast<std::size_t>(s_.users.GetCount()));
  for (int i = 0; i < s_.users.GetCount(); ++i) {
    const UserRecord& record = *s_.users.At(i);
    if (s_.settings.DebugLog) {
      Trace("::: list proccess (1) " + record.mac);
      if (!record.name.empty()) Trace("::: list proccess (2) " + record.name);
      if (!record.reportedIp.empty()) Trace("::: list proccess (3) " + record.reportedIp);
      if (!record.peerAddress.empty()) Trace("::: list proccess (4) " + record.peerAddress);
      Trace("::: list proccess (5) " + std::to_string(static_cast<int>(record.blockState)));
    }
    if (wantRows) rows.push_back(MakeRow(i));
  }
  if (wantRows) s_.events.Publish(event::UserList{std::move(rows)});
  s_.events.Publish(event::Status{Status()});
  SendAfsValues();
  Trace("::: list proccess OK");
}

void EngineCore::SendAfsValues() {
  FlushRelay();
  Trace("::: AFS proccess");
  const int n = s_.users.GetCount();
  // Users with the same value (who reached the same address) share one encoded packet.
  std::int32_t lastValue = 0;
  const ServerIdentity* lastIdentity = nullptr;
  SharedBytes lastPacket;
  for (int i = 0; i < n; ++i) {
    // Sending never touches the table, so the record can be read in place.
    const UserRecord& record = *s_.users.At(i);
    Connection* connection = s_.connections.Find(record.connection);
    if (connection == nullptr) continue;
    const std::int32_t value = record.afs < 0 ? s_.settings.FloodStopper : record.afs;
    const ServerIdentity* identity = &IdentityFor(connection);
    if (!lastPacket || value != lastValue || identity != lastIdentity) {
      lastPacket =
          EncodePacket(std::to_string(value), packet_type::kAfsValue, kOwnSubject, connection);
      lastValue = value;
      lastIdentity = identity;
    }
    connection->Send(lastPacket);
    ++s_.counters.deliveries;
  }
  Trace("::: AFS proccess OK");
}

void EngineCore::ReportUserCount() {
  ReportLine(kDashes);
  EventLine(FormatCount(StringId::kUsersConnected, s_.users.GetCount()));
  ReportLine(kDashes);
}

UserRow EngineCore::MakeRow(int index) const {
  const UserRecord* record = s_.users.At(index);
  return record != nullptr ? MakeRow(*record) : UserRow{};
}

UserRow EngineCore::MakeRow(const UserRecord& user) const {
  const UserRecord* record = &user;
  UserRow row;
  row.mac = record->mac;
  row.name = record->name;
  row.reportedIp = record->reportedIp;
  row.peerAddress = record->peerAddress;
  row.blockState = record->blockState;
  row.blockText = BlockStateText(record->blockState);
  if (record->blockState == BlockState::kIp) {
    // A block by IP refuses the connection's address too: the row says which of the two
    // addresses the list holds.
    const bool reported = s_.blockList.IsListed(record->reportedIp);
    const bool connection = record->peerAddress != record->reportedIp &&
                            s_.blockList.IsAddressBlocked(record->peerAddress);
    if (connection) row.blockText = reported ? "IP + address" : "address";
  }
  row.afs = record->afs;
  return row;
}

std::vector<UserRow> EngineCore::Rows() const {
  std::vector<UserRow> rows;
  rows.reserve(static_cast<std::size_t>(s_.users.GetCount()));
  for (int i = 0; i < s_.users.GetCount(); ++i)
    rows.push_back(MakeRow(i));
  return rows;
}

ServerStatus EngineCore::Status() const {
  ServerStatus status;
  status.version = s_.settings.versionText;
  status.address = s_.settings.ServerIP;
  status.port = s_.settings.ServerPort;
  if (s_.settings.ServerIP.empty()) {
    status.clientAddresses = s_.machineAddresses;
  } else {
    status.clientAddresses.push_back(s_.settings.ServerIP);
  }
  status.listening = s_.listening;
  status.notListeningReason = s_.listenError;
  status.users = s_.users.GetCount();
  status.connections = static_cast<int>(s_.connections.Count());
  status.counters = s_.counters;
  status.startedAtMs = s_.startedAtMs;
  status.takenAtMs = s_.env.scheduler != nullptr ? s_.env.scheduler->SteadyNow().count() : 0;
  return status;
}

std::string EngineCore::TooltipText() const {
  return std::string(kProductName) + " (" + s_.settings.ServerName + ") / " +
         s_.settings.versionText + "\n" + kDashes + "\n" +
         FormatCount(StringId::kUsersOnline, s_.users.GetCount());
}

void EngineCore::AnnounceTexts() {
  ViewTexts texts;
  for (int n = 0; n < kStringCount; ++n)
    texts.strings.push_back(s_.language.GetString(n));
  texts.floodStopper = s_.settings.FloodStopper;
  texts.serverName = s_.settings.ServerName;
  s_.events.Publish(event::Texts{std::move(texts)});
}

void EngineCore::LookAtMachineAddresses() {
  // A laptop's address changes with the network it is on.
  if (s_.settings.ServerIP.empty()) s_.machineAddresses = s_.env.machineAddresses();
}

void EngineCore::PublishUser(const UserRecord& record, bool joined) {
  if (!s_.events.WantsUserEvents()) return;
  if (joined) {
    s_.events.Publish(event::UserJoined{MakeRow(record)});
  } else {
    s_.events.Publish(event::UserChanged{MakeRow(record)});
  }
}

std::string EngineCore::ReadCommandText(const std::string& key) {
  std::optional<std::string> text = s_.commandFile.Find(key);
  if (text) {
    commandFileMissingSaid_ = false;
    return std::move(*text);
  }
  // A missing file is no text to send anybody; the operator hears of it once.
  if (!commandFileMissingSaid_) {
    commandFileMissingSaid_ = true;
    EventLine("The command file " + s_.commandFile.Path().string() +
              " cannot be read: command answers and profile texts stay empty until it is");
  }
  return {};
}

std::string EngineCore::ReadMessageKey(const char* key) {
  // A settings file that went away while we run must not turn into a message text.
  return s_.settingsFile.Find(key).value_or(std::string());
}

std::string EngineCore::BuildServerProfile(const Connection* to) {
  return s_.packets.BuildServerProfile(IdentityFor(to),
                                       [this](const char* key) { return ReadCommandText(key); });
}

}  // namespace orv
