// The dispatcher: what the server does with one received unit before relaying it.
#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "console/escape.h"

#include "server/relay.h"

#include "protocol/wire_constants.h"
#include "server/policy.h"

namespace orv {

namespace {

// The body begins with the server's name: the text in front of the first occurrence of the
// name is exactly the type field and its separator.
bool AddressedToServer(std::string_view typeAndBody, std::string_view prefix,
                       std::string_view serverName) {
  if (serverName.empty()) return false;
  const auto at = typeAndBody.find(serverName);
  return at != std::string_view::npos && typeAndBody.substr(0, at) == prefix;
}

// Whether the list would show a user the same.
bool SameRow(const UserRow& a, const UserRow& b) {
  return a.mac == b.mac && a.name == b.name && a.reportedIp == b.reportedIp &&
         a.peerAddress == b.peerAddress && a.blockText == b.blockText &&
         a.blockState == b.blockState && a.afs == b.afs;
}

std::string_view TrimBlanksAndColons(std::string_view text) {
  auto skip = [](char c) { return c == ' ' || c == ':'; };
  while (!text.empty() && skip(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && skip(text.back()))
    text.remove_suffix(1);
  return text;
}

// Output made by a function, one call per piece.
class FunctionSource final : public OutputSource {
 public:
  explicit FunctionSource(std::function<bool(std::string&)> next) : next_(std::move(next)) {}
  bool Next(std::string& out) override { return next_(out); }

 private:
  std::function<bool(std::string&)> next_;
};

}  // namespace

Dispatched Relay::Dispatch(std::string_view received, Connection* connection) {
  core_.Trace("::: parse proccess");
  scratch_.clear();
  s_.env.codec.DecodeAppend(received, scratch_);
  // Packets come cut at their terminator (and may carry the characters a client writes
  // after it); the socket-error notice has none and is relayed unread.
  if (scratch_.find(kTerminator) == std::string::npos) {
    core_.Trace("::: parse proccess OK (3)");
    return Dispatched::kRelayed;
  }
  const PacketHeader header = ReadPacketHeader(scratch_);
  const std::string_view msg = header.typeAndBody;
  const ConnectionKey key = connection ? connection->Key() : ConnectionKey{};
  const std::string_view peer = connection ? std::string_view(connection->PeerAddress()) : "";
  ConnectionKey replaced;
  if (connection != nullptr) {
    if (PosesAsServer(header, *connection)) {
      core_.Trace("::: parse proccess OK (2)");
      return Dispatched::kRefused;
    }
    switch (AdmitSender(header, *connection, &replaced)) {
      case Admission::kRefused:
        core_.Trace("::: parse proccess OK (2)");
        return Dispatched::kRefused;
      case Admission::kRelayOnly:
        core_.Trace("::: parse proccess OK (3)");
        return Dispatched::kRelayed;
      case Admission::kAdmitted:
        break;
    }
  }

  const UserRecord* known = s_.users.Find(header.mac);
  if (connection != nullptr && known == nullptr) NoteMacAddress(header.mac, peer);
  // What the list shows of the user, for subscribers that follow users one by one.
  std::optional<UserRow> before;
  if (known != nullptr && s_.events.WantsUserEvents()) before = core_.MakeRow(*known);
  if (IsStatusType(header.type)) {
    const std::string_view rest = ExtractField(msg, kFieldSeparator, Side::kAfter);
    const std::int32_t code = ParseLeadingNumber(ExtractField(rest, ":", Side::kBefore));
    const std::string_view text = ExtractField(rest, ":", Side::kAfter);
    // -1 when the list has no value of the user's own: the FloodStopper setting in force
    // then applies whenever the value is sent, also after a reload changed it.
    const std::int32_t afs = s_.afsList.ReadAfsValue(header.mac, -1);
    s_.users.AddOrUpdate(header.mac, header.ip, header.name, key, peer, header.avatar, text, code,
                         afs);
  } else {
    s_.users.AddOrUpdate(header.mac, header.ip, header.name, key, peer, header.avatar, {}, 0,
                         s_.users.FindAfs(header.mac));
  }
  if (replaced) {
    // The user came back on a new connection from the same machine (after a crash, a
    // dropped link, a sleep): the new one has the record now; the old one goes.
    const Connection* old = s_.connections.Find(replaced);
    const std::string oldPeer = old != nullptr ? old->PeerAddress() : std::string(peer);
    core_.Notice("users taken over by a new connection", std::string(peer),
                 "MAC " + ClientText(header.mac) + " came back from " + std::string(peer) +
                     " on connection " + key.Text() + "; its old connection " + replaced.Text() +
                     " from " + oldPeer + " is closed");
    core_.CloseConnection(replaced, oldPeer);
  }

  if (header.type == packet_type::kStateSet) s_.users.SetStateFlag(header.mac, true);
  if (header.type == packet_type::kStateClear) s_.users.SetStateFlag(header.mac, false);
  if (connection != nullptr && s_.events.WantsUserEvents()) {
    if (const UserRecord* record = s_.users.Find(header.mac)) {
      if (known == nullptr) {
        core_.PublishUser(*record, true);
      } else if (before && !SameRow(*before, core_.MakeRow(*record))) {
        core_.PublishUser(*record, false);
      }
    }
  }

  // Nothing of a blocked sender is relayed or answered, whatever the packet's type.
  if (RefuseBlocked(header, peer, connection)) return Dispatched::kRefused;

  switch (header.type) {
    case packet_type::kChat:
      if (AddressedToServer(msg, "5||", s_.settings.ServerName)) {
        const std::string command(
            TrimBlanksAndColons(ExtractField(msg, s_.settings.ServerName, Side::kAfter)));
        const std::string answer = core_.ReadCommandText(command);
        if (!answer.empty()) {
          core_.SendDirect(
              connection,
              core_.EncodePacket(answer, packet_type::kServerText, header.mac, connection),
              EngineCore::After::kHold);
        }
      }
      core_.Trace("::: parse proccess OK (1)");
      return Dispatched::kRelayed;
    case packet_type::kProfileRequest:
      if (!AddressedToServer(msg, "14||", s_.settings.ServerName)) return Dispatched::kRelayed;
      core_.SendDirect(connection,
                       core_.EncodePacket(core_.BuildServerProfile(connection),
                                          packet_type::kProfile, header.mac, connection),
                       EngineCore::After::kHold);
      break;
    case packet_type::kBoardFile: {
      const std::string_view beforeSemicolon = ExtractField(msg, ";", Side::kBefore);
      if (msg.find(';') != std::string_view::npos) {
        WriteBoardFile(connection, ExtractField(beforeSemicolon, kFieldSeparator, Side::kAfter),
                       ExtractField(msg, ";", Side::kAfter));
      }
      break;
    }
    case packet_type::kAnnounce:
      SendUserList(header.mac, connection);
      break;
    default:
      break;
  }
  core_.Trace("::: parse proccess OK (3)");
  return Dispatched::kRelayed;
}

bool Relay::PosesAsServer(const PacketHeader& header, const Connection& connection) {
  // Welcome and operator texts, the profile, the user list and the AFS value come from the
  // server alone, and so does its MAC: a client's copy could not be told from the server's
  // own by anyone (a forged AFS 0 turns every client's flood stopper off).
  const bool serverType =
      header.type == packet_type::kServerText || header.type == packet_type::kProfile ||
      header.type == packet_type::kUserList || header.type == packet_type::kAfsValue;
  const bool serverMac = !header.mac.empty() && (header.mac == s_.settings.serverMac ||
                                                 header.mac == core_.IdentityFor(&connection).mac);
  if (!serverType && !serverMac) return false;
  const std::string& peer = connection.PeerAddress();
  core_.Notice("packets posing as the server", peer,
               "Packet from " + peer + " not relayed: " +
                   (serverType ? "type " + std::to_string(header.type) + " is the server's own"
                               : std::string("it carries the server's MAC")));
  return true;
}

void Relay::NoteMacAddress(std::string_view mac, std::string_view peer) {
  // MACs are what clients say: remembering where each came from last lets the operator see
  // one turn up on another machine (someone keeping an offline user out). Long texts are
  // no MACs, and the memory is bounded.
  if (mac.size() > policy::kLongestRememberedMac || peer.empty()) return;
  const auto found = lastAddressOfMac_.find(mac);
  if (found != lastAddressOfMac_.end()) {
    if (found->second != peer) {
      core_.Notice("MACs registering from another address", std::string(peer),
                   "MAC " + ClientText(mac) + " registers from " + std::string(peer) +
                       "; it last came from " + found->second);
      found->second = std::string(peer);
    }
    return;
  }
  if (lastAddressOfMac_.size() >= policy::kMacsRemembered) lastAddressOfMac_.clear();
  lastAddressOfMac_.emplace(std::string(mac), std::string(peer));
}

Relay::Admission Relay::AdmitSender(const PacketHeader& header, Connection& connection,
                                    ConnectionKey* replaced) {
  const ConnectionKey key = connection.Key();
  const std::string& peer = connection.PeerAddress();
  if (!header.complete) {
    // Nobody can be told by such a packet: it makes no record and gets no answer, but it is
    // relayed as every packet is, unless its connection is blocked.
    const bool blocked = s_.users.AnyBlockedFor(key) || s_.blockList.IsAddressBlocked(peer);
    core_.Notice("packets with an incomplete header", peer,
                 "Packet from " + peer + " has an incomplete header: " +
                     (blocked ? "not relayed, its connection is blocked"
                              : "relayed, but it makes no user and gets no answer"));
    return blocked ? Admission::kRefused : Admission::kRelayOnly;
  }
  const UserRecord* holder = s_.users.Find(header.mac);
  if (holder != nullptr && holder->connection == key) return Admission::kAdmitted;
  if (s_.users.CountFor(key) >= s_.settings.MaxUsersPerConnection) {
    core_.Notice("refused packets", peer,
                 "Packet from " + peer + " refused: its connection holds " +
                     std::to_string(s_.users.CountFor(key)) +
                     " users already (MaxUsersPerConnection)");
    return Admission::kRefused;
  }
  if (holder == nullptr) return Admission::kAdmitted;
  // A MAC belongs to the connection that brought it while that connection lives: a client on
  // another machine cannot take its record over, hide its user or receive what is meant for
  // it. The same machine can: that is a client that reconnected before the server noticed
  // its old connection was gone.
  const Connection* owner = s_.connections.Find(holder->connection);
  if (owner != nullptr && owner->PeerAddress() == peer && !peer.empty()) {
    *replaced = holder->connection;
    return Admission::kAdmitted;
  }
  core_.Notice("refused packets", peer,
               "Packet from " + peer + " refused: MAC " + ClientText(header.mac) +
                   " belongs to the connection from " +
                   (owner != nullptr ? owner->PeerAddress() : std::string("n/a")));
  return Admission::kRefused;
}

bool Relay::RefuseBlocked(const PacketHeader& header, std::string_view peer,
                          Connection* connection) {
  if (s_.users.FindBlockState(header.mac) == BlockState::kNone) {
    const BlockState listed = s_.blockList.CheckBlockList(header.ip, header.name, header.mac, peer);
    if (listed == BlockState::kNone) return false;
    s_.users.SetBlockState(header.mac, listed);
    if (const UserRecord* record = s_.users.Find(header.mac)) core_.PublishUser(*record, false);
    std::string line;
    switch (listed) {
      case BlockState::kIp:
        line = core_.Format(StringId::kRefusedByIp, header.ip);
        break;
      case BlockState::kAddress:
        line = "Refused a user whose connection address is blocked: " + std::string(peer);
        break;
      case BlockState::kMac:
        line = core_.Format(StringId::kRefusedByMac, header.mac);
        break;
      default:
        line = core_.Format(StringId::kRefusedByName, header.name);
        break;
    }
    // Once per user, and a blocked client that comes back in a loop makes one a minute.
    core_.Notice("refused users", std::string(peer), line);
  }
  const std::string message = core_.ReadMessageKey("ServerBlockMessage");
  if (message.size() > 1) {
    core_.SendDirect(connection,
                     core_.EncodePacket(message, packet_type::kServerText, header.mac, connection),
                     EngineCore::After::kHold);
  }
  ++s_.counters.blockedPackets;
  core_.Trace("::: parse proccess OK (2)");
  return true;
}

void Relay::WriteBoardFile(Connection* connection, std::string_view fileName,
                           std::string_view content) {
  const BoardFolder::Result result = s_.board.Store(fileName, content);
  if (result == BoardFolder::Result::kWritten) return;
  std::string why;
  switch (result) {
    case BoardFolder::Result::kBadName:
      why = "its name would leave board/";
      break;
    case BoardFolder::Result::kNameTooLong:
      why = "its name is longer than " + std::to_string(BoardFolder::kMaxNameBytes) + " bytes";
      break;
    case BoardFolder::Result::kFileTooLarge:
      why = "it is larger than " + std::to_string(s_.settings.BoardFileLimit) +
            " bytes (BoardFileLimit)";
      break;
    case BoardFolder::Result::kOverQuota:
      why = "board/ would grow past " + std::to_string(s_.settings.BoardQuota) +
            " bytes (BoardQuota)";
      break;
    case BoardFolder::Result::kFailed:
      why = "the file could not be written";
      break;
    case BoardFolder::Result::kWritten:
      break;
  }
  const std::string peer = connection ? connection->PeerAddress() : std::string("the server");
  core_.Notice("refused board files", peer,
               "Board file '" + ClientText(fileName) + "' from " + peer + " refused: " + why);
}

void Relay::SendUserList(std::string_view mac, Connection* connection) {
  core_.FlushRelay();
  if (connection == nullptr) return;
  // Made block by block while the connection takes it: a list of thousands of users for
  // each of a thousand newcomers costs memory only as it is written, and never counts as
  // a slow reader's backlog. Users who leave meanwhile are left out, those who come are in.
  std::uint64_t next = 0;
  std::string block;
  auto makeBlock = [this, alive = std::weak_ptr<bool>(s_.alive), mac = std::string(mac),
                    identity = core_.IdentityFor(connection), next,
                    block](std::string& out) mutable {
    const auto token = alive.lock();
    if (!token || !*token || s_.shutDown) return false;
    const bool more = s_.users.BuildListBlock(&next, block);
    core_.Trace("::: create packet");
    s_.env.codec.EncodeAppend(s_.packets.CreatePacket(block, packet_type::kUserList, mac, identity),
                              out);
    core_.Trace("::: create packet OK");
    return more;
  };
  connection->SendFrom(std::make_unique<FunctionSource>(std::move(makeBlock)));
}

}  // namespace orv
