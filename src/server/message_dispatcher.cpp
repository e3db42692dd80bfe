// The dispatcher: what the server does with one received unit before relaying it.
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "console/escape.h"

#include "server/chat_server.h"

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

std::string ChatServer::ParseMessage(std::string_view received, Connection* connection) {
  AssertEngineThread();
  return Dispatch(received, connection) ? std::string(received) : std::string("BLOCK");
}

bool ChatServer::Dispatch(std::string_view received, Connection* connection) {
  Trace("::: parse proccess");
  scratch_.clear();
  env_.codec.DecodeAppend(received, scratch_);
  // Packets come cut at their terminator (and may carry the characters a client writes
  // after it); the socket-error notice has none and is relayed unread.
  if (scratch_.find(kTerminator) == std::string::npos) {
    Trace("::: parse proccess OK (3)");
    return true;
  }
  const PacketHeader header = ReadPacketHeader(scratch_);
  const std::string_view msg = header.typeAndBody;
  const ConnectionKey key = connection ? connection->Key() : ConnectionKey{};
  const std::string_view peer = connection ? std::string_view(connection->PeerAddress()) : "";
  ConnectionKey replaced;
  if (connection != nullptr) {
    if (PosesAsServer(header, *connection)) {
      Trace("::: parse proccess OK (2)");
      return false;
    }
    switch (AdmitSender(header, *connection, &replaced)) {
      case Admission::kRefused:
        Trace("::: parse proccess OK (2)");
        return false;
      case Admission::kRelayOnly:
        Trace("::: parse proccess OK (3)");
        return true;
      case Admission::kAdmitted:
        break;
    }
  }

  if (connection != nullptr && users_.Find(header.mac) == nullptr) {
    NoteMacAddress(header.mac, peer);
  }
  if (IsStatusType(header.type)) {
    const std::string_view rest = ExtractField(msg, kFieldSeparator, Side::kAfter);
    const std::int32_t code = ParseLeadingNumber(ExtractField(rest, ":", Side::kBefore));
    const std::string_view text = ExtractField(rest, ":", Side::kAfter);
    // -1 when the list has no value of the user's own: the FloodStopper setting in force
    // then applies whenever the value is sent, also after a reload changed it.
    const std::int32_t afs = afsList_.ReadAfsValue(header.mac, -1);
    users_.AddOrUpdate(header.mac, header.ip, header.name, key, peer, header.avatar, text, code,
                       afs);
  } else {
    users_.AddOrUpdate(header.mac, header.ip, header.name, key, peer, header.avatar, {}, 0,
                       users_.FindAfs(header.mac));
  }
  if (replaced) {
    // The user came back on a new connection from the same machine (after a crash, a
    // dropped link, a sleep): the new one has the record now; the old one goes.
    const Connection* old = connections_.Find(replaced);
    const std::string oldPeer = old != nullptr ? old->PeerAddress() : std::string(peer);
    Notice("users taken over by a new connection", std::string(peer),
           "MAC " + ClientText(header.mac) + " came back from " + std::string(peer) +
               " on connection " + key.Text() + "; its old connection " + replaced.Text() +
               " from " + oldPeer + " is closed");
    CloseConnection(replaced, oldPeer);
  }

  if (header.type == packet_type::kStateSet) users_.SetStateFlag(header.mac, true);
  if (header.type == packet_type::kStateClear) users_.SetStateFlag(header.mac, false);

  // Nothing of a blocked sender is relayed or answered, whatever the packet's type.
  if (RefuseBlocked(header, peer, connection)) return false;

  switch (header.type) {
    case packet_type::kChat:
      if (AddressedToServer(msg, "5||", settings_.ServerName)) {
        const std::string command(
            TrimBlanksAndColons(ExtractField(msg, settings_.ServerName, Side::kAfter)));
        const std::string answer = ReadCommandText(command);
        if (!answer.empty()) {
          SendDirect(connection,
                     EncodePacket(answer, packet_type::kServerText, header.mac, connection), true);
        }
      }
      Trace("::: parse proccess OK (1)");
      return true;
    case packet_type::kProfileRequest:
      if (!AddressedToServer(msg, "14||", settings_.ServerName)) return true;
      SendDirect(connection,
                 EncodePacket(BuildServerProfile(connection), packet_type::kProfile, header.mac,
                              connection),
                 true);
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
  Trace("::: parse proccess OK (3)");
  return true;
}

bool ChatServer::PosesAsServer(const PacketHeader& header, const Connection& connection) {
  // Welcome and operator texts, the profile, the user list and the AFS value come from the
  // server alone, and so does its MAC: a client's copy could not be told from the server's
  // own by anyone (a forged AFS 0 turns every client's flood stopper off).
  const bool serverType =
      header.type == packet_type::kServerText || header.type == packet_type::kProfile ||
      header.type == packet_type::kUserList || header.type == packet_type::kAfsValue;
  const bool serverMac = !header.mac.empty() && (header.mac == settings_.serverMac ||
                                                 header.mac == IdentityFor(&connection).mac);
  if (!serverType && !serverMac) return false;
  const std::string& peer = connection.PeerAddress();
  Notice("packets posing as the server", peer,
         "Packet from " + peer + " not relayed: " +
             (serverType ? "type " + std::to_string(header.type) + " is the server's own"
                         : std::string("it carries the server's MAC")));
  return true;
}

void ChatServer::NoteMacAddress(std::string_view mac, std::string_view peer) {
  // MACs are what clients say: remembering where each came from last lets the operator see
  // one turn up on another machine (someone keeping an offline user out). Long texts are
  // no MACs, and the memory is bounded.
  constexpr std::size_t kLongestMac = 64;
  constexpr std::size_t kMacsRemembered = 20000;
  if (mac.size() > kLongestMac || peer.empty()) return;
  const auto found = lastAddressOfMac_.find(mac);
  if (found != lastAddressOfMac_.end()) {
    if (found->second != peer) {
      Notice("MACs registering from another address", std::string(peer),
             "MAC " + ClientText(mac) + " registers from " + std::string(peer) +
                 "; it last came from " + found->second);
      found->second = std::string(peer);
    }
    return;
  }
  if (lastAddressOfMac_.size() >= kMacsRemembered) lastAddressOfMac_.clear();
  lastAddressOfMac_.emplace(std::string(mac), std::string(peer));
}

ChatServer::Admission ChatServer::AdmitSender(const PacketHeader& header, Connection& connection,
                                              ConnectionKey* replaced) {
  const ConnectionKey key = connection.Key();
  const std::string& peer = connection.PeerAddress();
  if (!header.complete) {
    // Nobody can be told by such a packet: it makes no record and gets no answer, but it is
    // relayed as every packet is, unless its connection is blocked.
    const bool blocked = users_.AnyBlockedFor(key) || blockList_.IsAddressBlocked(peer);
    Notice("packets with an incomplete header", peer,
           "Packet from " + peer + " has an incomplete header: " +
               (blocked ? "not relayed, its connection is blocked"
                        : "relayed, but it makes no user and gets no answer"));
    return blocked ? Admission::kRefused : Admission::kRelayOnly;
  }
  const UserRecord* holder = users_.Find(header.mac);
  if (holder != nullptr && holder->connection == key) return Admission::kAdmitted;
  if (users_.CountFor(key) >= settings_.MaxUsersPerConnection) {
    Notice("refused packets", peer,
           "Packet from " + peer + " refused: its connection holds " +
               std::to_string(users_.CountFor(key)) + " users already (MaxUsersPerConnection)");
    return Admission::kRefused;
  }
  if (holder == nullptr) return Admission::kAdmitted;
  // A MAC belongs to the connection that brought it while that connection lives: a client on
  // another machine cannot take its record over, hide its user or receive what is meant for
  // it. The same machine can: that is a client that reconnected before the server noticed
  // its old connection was gone.
  const Connection* owner = connections_.Find(holder->connection);
  if (owner != nullptr && owner->PeerAddress() == peer && !peer.empty()) {
    *replaced = holder->connection;
    return Admission::kAdmitted;
  }
  Notice("refused packets", peer,
         "Packet from " + peer + " refused: MAC " + ClientText(header.mac) +
             " belongs to the connection from " +
             (owner != nullptr ? owner->PeerAddress() : std::string("n/a")));
  return Admission::kRefused;
}

bool ChatServer::RefuseBlocked(const PacketHeader& header, std::string_view peer,
                               Connection* connection) {
  if (users_.FindBlockState(header.mac) == BlockState::kNone) {
    const BlockState listed = blockList_.CheckBlockList(header.ip, header.name, header.mac, peer);
    if (listed == BlockState::kNone) return false;
    users_.SetBlockState(header.mac, listed);
    std::string line;
    switch (listed) {
      case BlockState::kIp:
        line = Format(StringId::kRefusedByIp, header.ip);
        break;
      case BlockState::kAddress:
        line = "Refused a user whose connection address is blocked: " + std::string(peer);
        break;
      case BlockState::kMac:
        line = Format(StringId::kRefusedByMac, header.mac);
        break;
      default:
        line = Format(StringId::kRefusedByName, header.name);
        break;
    }
    // Once per user, and a blocked client that comes back in a loop makes one a minute.
    Notice("refused users", std::string(peer), line);
  }
  const std::string message = ReadMessageKey("ServerBlockMessage");
  if (message.size() > 1) {
    SendDirect(connection, EncodePacket(message, packet_type::kServerText, header.mac, connection),
               true);
  }
  Trace("::: parse proccess OK (2)");
  return true;
}

void ChatServer::WriteBoardFile(Connection* connection, std::string_view fileName,
                                std::string_view content) {
  const BoardFolder::Result result = board_.Store(fileName, content);
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
      why = "it is larger than " + std::to_string(settings_.BoardFileLimit) +
            " bytes (BoardFileLimit)";
      break;
    case BoardFolder::Result::kOverQuota:
      why =
          "board/ would grow past " + std::to_string(settings_.BoardQuota) + " bytes (BoardQuota)";
      break;
    case BoardFolder::Result::kFailed:
      why = "the file could not be written";
      break;
    case BoardFolder::Result::kWritten:
      break;
  }
  const std::string peer = connection ? connection->PeerAddress() : std::string("the server");
  Notice("refused board files", peer,
         "Board file '" + ClientText(fileName) + "' from " + peer + " refused: " + why);
}

void ChatServer::SendUserList(std::string_view mac, Connection* connection) {
  FlushRelay();
  if (connection == nullptr) return;
  // Made block by block while the connection takes it: a list of thousands of users for
  // each of a thousand newcomers costs memory only as it is written, and never counts as
  // a slow reader's backlog. Users who leave meanwhile are left out, those who come are in.
  std::uint64_t next = 0;
  std::string block;
  auto makeBlock = [this, alive = std::weak_ptr<bool>(alive_), mac = std::string(mac),
                    identity = IdentityFor(connection), next, block](std::string& out) mutable {
    const auto token = alive.lock();
    if (!token || !*token || shutDown_) return false;
    const bool more = users_.BuildListBlock(&next, block);
    Trace("::: create packet");
    env_.codec.EncodeAppend(packets_.CreatePacket(block, packet_type::kUserList, mac, identity),
                            out);
    Trace("::: create packet OK");
    return more;
  };
  connection->SendFrom(std::make_unique<FunctionSource>(std::move(makeBlock)));
}

}  // namespace orv
