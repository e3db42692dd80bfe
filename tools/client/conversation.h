// What a chat user sees of the packets that arrive: chat lines in plain words ("anna:
// hello", "* boris joined", "* dora is away: lunch"), the server's messages marked as such,
// the welcome once, and who is online. Lists and AFS values are not shown; they keep the
// roster and tell the session how fast it may send.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chat_line.h"
#include "client_packets.h"
#include "roster.h"

namespace orv::client {

// Wire text made safe and readable: control characters escaped, then UTF-8.
std::string ShownText(std::string_view wire);

// The words for a status ("away: lunch", "online"); the numbers this client sends are 1
// online, 2 away and 3 busy; other numbers are shown as numbers.
std::string StatusWords(int code, std::string_view wireText);

class Conversation {
 public:
  explicit Conversation(std::string ownMac);

  // A new connection begins: the server is recognised again by its first packet, and the
  // next list is the one this connection asks for.
  void Connected();

  struct Outcome {
    std::vector<ChatLine> lines;
    std::optional<int> afs;      // the AFS value the server sent this client
    bool refreshed = false;      // the server refreshed its list: somebody may have left
    bool rosterChanged = false;  // the side pane needs drawing again
    bool listed = false;         // this client's own announcement came back after its list
  };
  Outcome Take(const PacketStream::Item& item);

  const Roster& roster() const { return roster_; }
  // The answer to /who.
  std::vector<ChatLine> WhoLines() const;
  // The server's name as its packets give it (wire text), empty until known.
  const std::string& serverName() const { return serverName_; }

 private:
  bool FromServer(const ParsedPacket& packet);
  void TakeServerPacket(const ParsedPacket& packet, Outcome& outcome);
  void TakeStatus(const ParsedPacket& packet, Outcome& outcome);
  void TakeOwnEcho(Outcome& outcome);
  Span NameSpan(std::string_view mac, std::string_view wireName) const;

  std::string ownMac_;
  Roster roster_;
  bool everListed_ = false;
  std::string welcome_;  // the welcome last shown (wire text)

  // This connection's.
  std::string serverHeader_;  // "ip(mac)name" of the server's packets, once seen
  std::string serverName_;
  bool echoSeen_ = false;
  bool serverTextSeen_ = false;
  bool listArriving_ = false;
  std::vector<UserEntry> pendingList_;
};

}  // namespace orv::client
