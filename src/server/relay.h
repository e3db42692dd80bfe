// The engine's side of the network: what it does when a connection is accepted, brings
// bytes, fails or goes, and the dispatcher that acts on each complete packet before it is
// relayed (records, answers, blocks, board files, the user list).
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

#include "protocol/packet_start.h"
#include "protocol/text_fields.h"
#include "server/engine_core.h"
#include "server/engine_state.h"
#include "server/housekeeping.h"
#include "server/network.h"

namespace orv {

// What became of one received unit.
enum class Dispatched { kRelayed, kRefused };

class Relay final : public ConnectionEvents {
 public:
  Relay(EngineState& state, EngineCore& core, Housekeeping& housekeeping);

  void OnAccepted(std::shared_ptr<Connection> connection) override;
  void OnReceived(Connection& connection, std::string_view data) override;
  void OnReceiveError(Connection& connection) override;
  void OnPeerClosed(Connection& connection) override;
  void OnOverflow(Connection& connection) override;
  void OnAcceptFailed(const std::string& reason) override;

  // Acts on one received unit (a packet, with what a client wrote after its terminator, or
  // the socket-error notice) by the rules of its type. connection is null for a unit the
  // server makes itself: every rule runs but nothing is sent.
  Dispatched Dispatch(std::string_view received, Connection* connection);

 private:
  // Dispatches one received packet; what is to be relayed joins the relay batch.
  bool ReadMessage(Connection& connection, std::string_view text);
  // Whether a client's packet is of a type only the server sends, or carries the server's
  // MAC; such packets are neither relayed nor acted on (with a notice).
  bool PosesAsServer(const PacketHeader& header, const Connection& connection);
  // Whether the connection may speak for the packet's MAC: a complete header, a MAC no
  // connection from another address holds, and room for one more user on the connection.
  // A packet with an incomplete header is only relayed (unless its connection is blocked).
  // When the MAC's record is held by another connection from the same address, replaced
  // names that connection: the record moves and the old connection is to be closed.
  enum class Admission { kAdmitted, kRelayOnly, kRefused };
  Admission AdmitSender(const PacketHeader& header, Connection& connection,
                        ConnectionKey* replaced);
  // Says when a MAC registers from another address than the one it last came from.
  void NoteMacAddress(std::string_view mac, std::string_view peer);
  bool RefuseBlocked(const PacketHeader& header, std::string_view peer, Connection* connection);
  void WriteBoardFile(Connection* connection, std::string_view fileName, std::string_view content);
  void SendUserList(std::string_view mac, Connection* connection);

  EngineState& s_;
  EngineCore& core_;
  Housekeeping& housekeeping_;
  const std::string wireTerminator_;  // "//end" as it travels
  const StartBytes startBytes_;       // bytes that may begin a packet, as they travel
  std::string scratch_;               // reused decode buffer of the dispatcher
  bool acceptFailureSaid_ = false;
  // The address each MAC last registered from (bounded; see NoteMacAddress).
  std::unordered_map<std::string, std::string, UserTable::TextHash, std::equal_to<>>
      lastAddressOfMac_;
};

}  // namespace orv
