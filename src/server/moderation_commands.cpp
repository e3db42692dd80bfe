// The operator's commands on one user: kick, block and unblock by IP, MAC, name or
// connection address, AFS value. Each prints its lines into the command's outcome.
#include <string>

#include "console/escape.h"
#include "moderation/settings_check.h"
#include "protocol/wire_constants.h"
#include "server/operator_service.h"
#include "server/policy.h"

namespace orv {

namespace {

std::string ShownOr(const std::string& field) {
  return field.empty() ? std::string("n/a") : field;
}

// "alice (10.0.0.1)", the name or else the MAC.
std::string Named(const UserRecord& user) {
  return ClientText(user.name.empty() ? user.mac : user.name) + " (" + user.peerAddress + ")";
}

}  // namespace

void OperatorService::Kick(const UserRecord& user, Outcome& outcome) {
  core_.Trace("::: kick proccess");
  const std::string ip = ShownOr(user.reportedIp);
  const ConnectionKey key = user.connection;
  Say(outcome, core_.Format(StringId::kKicked, ip) + core_.UsersOf(key));
  Connection* connection = s_.connections.Find(key);
  const std::string message = core_.ReadMessageKey("ServerKickMessage");
  if (message.size() > 1 && connection != nullptr) {
    core_.SendDirect(connection,
                     core_.EncodePacket(message, packet_type::kServerText, kOwnSubject, connection),
                     EngineCore::After::kNothing);
    // The notice arrives on its own; the connection is closed a moment later, and nothing it
    // sends meanwhile is acted on.
    s_.connections.MarkKicked(key);
    core_.Later(policy::kAnswerHold, [this, key, ip] {
      if (s_.connections.IsKicked(key)) core_.CloseConnection(key, ip);
    });
  } else {
    core_.CloseConnection(key, ip);
  }
  core_.Trace("::: kick proccess OK");
}

std::vector<std::string> OperatorService::BlockKeys(const UserRecord& user, BlockState kind,
                                                    std::string* note) {
  switch (kind) {
    case BlockState::kMac:
      return {ShownOr(user.mac)};
    case BlockState::kName:
      return {ShownOr(user.name)};
    case BlockState::kAddress:
      return {ShownOr(user.peerAddress)};
    case BlockState::kIp:
    case BlockState::kNone:
      break;
  }
  // By IP: the address the connection comes from, which the client cannot choose, and the
  // IP it reports only when that can be nobody else's: a plain address that no other user
  // online comes from or reports. Anything else would let a client that reports another's
  // address, or a text such as "MACbob", get that other user blocked.
  std::vector<std::string> keys;
  if (!user.peerAddress.empty()) keys.push_back(user.peerAddress);
  const std::string& reported = user.reportedIp;
  if (reported.empty() || reported == user.peerAddress) {
    if (keys.empty()) keys.push_back("n/a");
    return keys;
  }
  std::string other;
  for (int i = 0; i < s_.users.GetCount() && other.empty(); ++i) {
    const UserRecord& u = *s_.users.At(i);
    if (u.mac == user.mac) continue;
    if (u.reportedIp == reported) other = (u.name.empty() ? u.mac : u.name) + " reports it too";
    if (u.peerAddress == reported) other = (u.name.empty() ? u.mac : u.name) + " comes from it";
  }
  if (!IsIpv4Address(reported)) {
    *note = "the reported IP " + ClientText(reported) + " is not blocked: it is no IPv4 address";
  } else if (!other.empty()) {
    *note = "the reported IP " + reported + " is not blocked: " + ClientText(other);
  } else {
    keys.insert(keys.begin(), reported);
  }
  if (keys.empty()) keys.push_back("n/a");
  return keys;
}

std::vector<std::string> OperatorService::Refusing(const std::vector<std::string>& keys,
                                                   const std::string& exceptMac) const {
  std::vector<std::string> names;
  for (int i = 0; i < s_.users.GetCount(); ++i) {
    const UserRecord& u = *s_.users.At(i);
    if (u.mac == exceptMac) continue;
    for (const std::string& key : keys) {
      if (BlockList::WouldRefuse(key, u.reportedIp, u.name, u.mac, u.peerAddress)) {
        names.push_back(Named(u));
        break;
      }
    }
  }
  return names;
}

void OperatorService::ChangeBlock(const UserRecord& record, BlockState kind, bool block,
                                  Outcome& outcome) {
  const std::string verb = block ? "::: block by " : "::: unblock by ";
  const std::string step =
      verb +
      (kind == BlockState::kAddress ? std::string("ADDRESS") : std::string(BlockStateText(kind))) +
      " proccess";
  // Every kind of block ends in the step that writes the list, traced as the name's.
  const std::string writeStep = verb + "NAME proccess";
  const bool byName = kind == BlockState::kName;
  const UserRecord user = record;  // the record is changed below

  core_.Trace(step);
  std::string note;
  std::vector<std::string> keys;
  if (block) {
    keys = BlockKeys(user, kind, &note);
  } else {
    // What blocking may have stored: an unblock by IP lifts the reported IP and the
    // connection's address; a key that is not listed is left as it is.
    keys = kind != BlockState::kIp ? BlockKeys(user, kind, &note)
           : user.reportedIp == user.peerAddress
               ? std::vector<std::string>{user.peerAddress}
               : std::vector<std::string>{user.reportedIp, user.peerAddress};
    note.clear();
    std::erase_if(keys, [this](const std::string& key) { return !s_.blockList.IsListed(key); });
    if (keys.empty()) {
      keys.push_back(kind != BlockState::kIp ? BlockKeys(user, kind, &note).front()
                                             : ShownOr(user.reportedIp));
    }
  }
  s_.users.SetBlockState(user.mac, block ? kind : BlockState::kNone);

  std::string line;
  if (kind == BlockState::kAddress) {
    line = (block ? "Blocked by connection address: " : "Unblocked connection address: ") +
           keys.front();
  } else {
    const StringId id = kind == BlockState::kIp
                            ? (block ? StringId::kBlockedByIp : StringId::kUnblockedByIp)
                        : kind == BlockState::kMac
                            ? (block ? StringId::kBlockedByMac : StringId::kUnblockedByMac)
                            : (block ? StringId::kBlockedByName : StringId::kUnblockedByName);
    line = core_.Format(id, keys.front());
  }
  if (keys.size() > 1) {
    line += " (connection address " + keys.back() + (block ? " blocked too)" : " unblocked too)");
  }
  if (!note.empty()) line += " (" + note + ")";
  if (block) {
    // Keys of every kind share the list: the operator hears whom else the entry refuses.
    const std::vector<std::string> others = Refusing(keys, user.mac);
    std::string named;
    for (std::size_t i = 0; i < others.size() && i < policy::kOthersNamed; ++i)
      named += (i == 0 ? "" : ", ") + others[i];
    if (others.size() > policy::kOthersNamed) {
      named += " and " + std::to_string(others.size() - policy::kOthersNamed) + " more";
    }
    if (!named.empty()) line += "; this also refuses " + named;
  }
  Say(outcome, line);
  if (!byName) core_.Trace(writeStep);
  bool written = true;
  for (const std::string& key : keys) {
    written =
        (block ? s_.blockList.WriteBlockEntry(key) : s_.blockList.ClearBlockEntry(key)) && written;
  }
  if (!written) {
    Say(outcome, "The block list " + s_.blockList.Path().string() +
                     " could not be written; the block holds only while the user stays connected");
  }
  if (const UserRecord* changed = s_.users.Find(user.mac)) core_.PublishUser(*changed, false);
  core_.RefreshUserList();
  core_.Trace(writeStep + " OK");
  if (!byName) core_.Trace(step + " OK");
}

void OperatorService::SetAfs(const UserRecord& user, std::int32_t value, Outcome& outcome) {
  const std::string mac = user.mac;
  const ConnectionKey key = user.connection;
  const std::string label =
      ClientText(ShownOr(user.name)) + " (" + ClientText(ShownOr(user.reportedIp)) + ")";
  s_.users.SetAfs(mac, value);
  const std::string text = std::to_string(value);
  Say(outcome, "ADMIN: Set AFS=" + text + " to '" + label + "'");
  if (!s_.afsList.WriteAfsValue(mac, value)) {
    Say(outcome, "The AFS list " + s_.afsList.Path().string() +
                     " could not be written; the value holds only until the user's next status");
  }
  Connection* connection = s_.connections.Find(key);
  core_.SendDirect(connection,
                   core_.EncodePacket(text, packet_type::kAfsValue, kOwnSubject, connection),
                   EngineCore::After::kNothing);
  // The row shows the new value now, not at the next refresh.
  if (const UserRecord* changed = s_.users.Find(mac)) core_.PublishUser(*changed, false);
  if (s_.events.WantsUserList()) s_.events.Publish(event::UserList{core_.Rows()});
}

}  // namespace orv
