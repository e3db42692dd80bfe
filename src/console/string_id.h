// Names for the operator texts of the language files (STR0 .. STR40): what each is used
// for in the code. The numbers are the keys the language files use.
#pragma once

namespace orv {

enum class StringId : int {
  kOn = 0,                     // the word for a switch that is on
  kOff = 1,                    // ... that is off; also an AFS value of 0 that is set
  kAfsFor = 2,                 // between the AFS title and the user's name in the menu
  kAfsSwitchOff = 3,           // after "0 " in the AFS menu when 0 is not chosen
  kFloodStopper = 4,           // the AFS label (settings report, menu title)
  kServerStarted = 5,          // listening: first line
  kWaitingForConnections = 6,  // listening: second line
  kListenFailed = 7,           // listening failed
  kServerStopped = 8,          // last log line of a run
  kServerIpLabel = 9,
  kServerPortLabel = 10,
  kBlockColumn = 11,  // header of the list's block column
  kBlockByIp = 12,    // menu items
  kBlockByMac = 13,
  kBlockByName = 14,
  kUsersOnline = 15,  // tooltip, one integer
  kDebugLogLabel = 16,
  kFloodStopperValue = 17,  // settings report of FloodStopper, one integer
  kAddressColumn = 18,      // header of the list's peer address column
  kKick = 19,               // menu item
  kLogFileLabel = 20,
  kServerNameLabel = 21,
  kNameColumn = 22,    // header of the list's name column
  kConsoleLimit = 23,  // settings report of MaxLineMessage, one integer
  kUnblockByIp = 24,   // menu items
  kUnblockByMac = 25,
  kUnblockByName = 26,
  kRefusedByIp = 27,  // a listed user was refused, one text each
  kRefusedByMac = 28,
  kRefusedByName = 29,
  kBlockedByIp = 30,  // the operator blocked, one text each
  kBlockedByMac = 31,
  kBlockedByName = 32,
  kUnblockedByIp = 33,  // the operator unblocked, one text each
  kUnblockedByMac = 34,
  kUnblockedByName = 35,
  kKicked = 36,              // the operator kicked, one text
  kConnectionClosed = 37,    // one text
  kUsersConnected = 38,      // one integer
  kCloseUnknown = 39,        // close of a connection that is not listed, one text
  kConnectionAccepted = 40,  // one text
};

inline constexpr int kStringCount = 41;

}  // namespace orv
