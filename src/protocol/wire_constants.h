// The names of the protocol's numbers and fixed texts: packet types, the separators, the
// parts of the server's own packets and the notice a failed receive is relayed as.
#pragma once

#include <cstdint>
#include <string_view>

namespace orv {

// Packet type codes (the fifth header field). Other codes are relayed without a rule.
namespace packet_type {
inline constexpr std::int32_t kAnnounce = 2;         // status; answered with the user list
inline constexpr std::int32_t kStatus = 4;           // status number and text
inline constexpr std::int32_t kChat = 5;             // chat; a command when addressed to us
inline constexpr std::int32_t kServerText = 6;       // a text from the server
inline constexpr std::int32_t kStatusOther = 7;      // status number and text
inline constexpr std::int32_t kProfileRequest = 14;  // profile request
inline constexpr std::int32_t kProfile = 15;         // the server's profile
inline constexpr std::int32_t kBoardFile = 16;       // "name;content" for board/
inline constexpr std::int32_t kStateSet = 25;        // status; sets the state flag
inline constexpr std::int32_t kStateClear = 34;      // status; clears the state flag
inline constexpr std::int32_t kUserList = 37;        // one block of the user list
inline constexpr std::int32_t kAfsValue = 45;        // the receiver's AFS value
}  // namespace packet_type

// Types whose body is "N:text", a status the server keeps in the sender's record.
constexpr bool IsStatusType(std::int32_t type) {
  return type == packet_type::kAnnounce || type == packet_type::kStatus ||
         type == packet_type::kStatusOther || type == packet_type::kStateSet ||
         type == packet_type::kStateClear;
}

inline constexpr std::string_view kFieldSeparator = "||";
inline constexpr std::string_view kTerminator = "//end";

// The server's own packets: its avatar, the subject of messages of its own (answers carry
// the asker's MAC instead), the flag field and the prefix of every body.
inline constexpr std::string_view kServerAvatar = "server.gif";
inline constexpr std::string_view kOwnSubject = "0.0";
inline constexpr std::string_view kServerFlag = "1";
inline constexpr std::string_view kServerBodyPrefix = "1:";

// What every connection receives, as it stands (neither substituted nor terminated), when
// a receive fails on one of them.
inline constexpr std::string_view kSocketErrorNotice = "|SERVER: SOCKET ERROR OCCURRED";

// One entry of a user-list block, and the most entries one block carries.
inline constexpr std::string_view kListEntryOpen = "[IUL]";
inline constexpr std::string_view kListEntryClose = "[/IUL]";
inline constexpr int kListEntriesPerBlock = 5;

}  // namespace orv
