// What a chat client does with packets: builds its own, cuts the received byte stream into
// packets and turns each into readable text (user lists, profile tags, AFS values).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "protocol/wire_codec.h"
#include "protocol/wire_constants.h"

namespace orv::client {

// Who the client says it is in every packet header.
struct Identity {
  std::string ip;
  std::string mac;
  std::string name;
  std::string avatar;
};

// ip "(" mac ")||" name "||" avatar "||" subject "||" flag "||" type "||" body "//end",
// not yet substituted.
std::string BuildClientPacket(const Identity& who, int type, std::string_view body,
                              std::string_view subject = kOwnSubject, std::string_view flag = "1");

// Status bodies (the types IsStatusType accepts) read "N:text".
std::string StatusBody(int code, std::string_view text);

// Cuts a received byte stream into packets. Substitution works byte by byte, so the
// terminator can be found in the stream as it travels and only whole packets are decoded.
// The server's socket-error notice (kSocketErrorNotice) arrives unsubstituted and
// unterminated, possibly in the middle of a packet, and comes out as an item of its own.
class PacketStream {
 public:
  struct Item {
    enum class Kind { kPacket, kSocketErrorNotice };
    Kind kind = Kind::kPacket;
    std::string text;  // decoded packet text without its "//end"
  };

  explicit PacketStream(const WireCodec& codec);
  // Takes received bytes and appends every packet (or notice) completed by them to out.
  void Feed(std::string_view wire, std::vector<Item>& out);
  // Decoded bytes received after the last terminator: a packet cut short when the stream ends.
  std::string PendingText() const;
  std::size_t PendingBytes() const { return pending_.size(); }

 private:
  const WireCodec& codec_;
  std::string encodedTerminator_;
  std::string pending_;
};

// One packet split into its header fields. A packet that lacks the "(", ")||" or any of the
// six "||" separators is malformed; problem then says what is missing.
struct ParsedPacket {
  std::string ip;
  std::string mac;
  std::string name;
  std::string avatar;
  std::string subject;
  std::string flag;
  std::int32_t type = 0;
  std::string typeText;
  std::string body;
  std::string problem;
  bool wellFormed() const { return problem.empty(); }
};

ParsedPacket ParsePacket(std::string_view decoded);

// The server's own packets carry kServerBodyPrefix in front of their payload; this is the
// payload.
std::string_view ServerPayload(const ParsedPacket& packet);
// Packet types only the server sends.
bool IsServerType(std::int32_t type);

// One [IUL] entry of a type-37 block.
struct UserEntry {
  std::string name;
  std::string mac;
  std::string ip;
  std::string statusText;
  std::string avatar;
  std::string code;
  std::string stateFlag;
};

// Every [IUL]...[/IUL] entry of a block, in order; an entry cut short is left out.
std::vector<UserEntry> ParseUserList(std::string_view payload);

// Every |TAG|value|/TAG| pair of a profile text, in order.
std::vector<std::pair<std::string, std::string>> ParseProfileTags(std::string_view text);

// Control characters and backslashes written as escapes, so one packet stays on one line.
std::string EscapeLine(std::string_view text);

// Readable forms of a packet: one line (for scripts), or a heading with indented lines (for
// people: the rows of a user list, the tags of a profile, the lines of a board file; a
// message keeps to its heading's line). Both name the sender and the type and read status
// bodies, user lists, profile tags and AFS values. DescribeLines leaves control characters
// as they came: escape them before they reach a terminal.
std::string DescribeLine(const ParsedPacket& packet);
std::vector<std::string> DescribeLines(const ParsedPacket& packet);

}  // namespace orv::client
