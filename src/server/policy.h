// The engine's fixed numbers, named once: how long a connection's output waits after an
// answer to it, how often the list is refreshed, the AFS range the operator may set, how
// often one client's notices are said, and the like.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace orv::policy {

// A connection's next output waits this long after a packet sent to it alone (the welcome,
// a command answer, the profile, a block notice); after a kick notice it is closed then.
inline constexpr std::chrono::milliseconds kAnswerHold{500};
// The list is refreshed this long after the start and after every accepted connection.
inline constexpr std::chrono::milliseconds kListRefreshDelay{3000};
// The AFS values the operator may set.
inline constexpr std::int32_t kAfsLowest = 0;
inline constexpr std::int32_t kAfsHighest = 100;
// Lines the console keeps before it is emptied, unless MaxLineMessage says otherwise.
inline constexpr std::int32_t kDefaultConsoleLines = 300;
// One client's notices (refusals and the like) are said once per kind and address in this
// long; the rest are counted.
inline constexpr std::chrono::minutes kNoticePeriod{1};
// Accepts and closes of one address print their lines up to this many times a notice period.
inline constexpr std::uint32_t kChurnLinesPerPeriod = 20;
// Old day logs are looked for this often (when LogKeepDays is set).
inline constexpr std::chrono::hours kLogPrunePeriod{1};
// MACs whose last address is remembered, and the longest text taken for a MAC there.
inline constexpr std::size_t kMacsRemembered = 20000;
inline constexpr std::size_t kLongestRememberedMac = 64;
// The other users a block's console line names before it counts the rest.
inline constexpr int kOthersNamed = 5;

}  // namespace orv::policy
