// What every part of the engine does to its state the same way: printing console lines,
// making and sending the server's own packets, relaying, closing connections, telling of
// one client's doings at most once a minute, refreshing the user list, and publishing what
// changed to the subscribers. The relay, the operator service and housekeeping share one.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "console/string_id.h"
#include "server/engine_state.h"

namespace orv {

class EngineCore {
 public:
  explicit EngineCore(EngineState& state) : s_(state) {}
  EngineCore(const EngineCore&) = delete;
  EngineCore& operator=(const EngineCore&) = delete;

  void AssertEngineThread() const;

  // Console lines: an event (stamped, logged) or a report line (unstamped, logged); trace
  // lines go to the log only when DebugLog is on.
  void EventLine(const std::string& text) { s_.console.EventLine(text); }
  void ReportLine(const std::string& text) { s_.console.ReportLine(text); }
  void Trace(std::string_view text) { s_.console.DebugTrace(text); }
  // A language string used as a format with a client's text (escaped and cut short), or
  // with a number.
  std::string Format(StringId id, std::string_view arg) const;
  std::string FormatCount(StringId id, std::int64_t arg) const;
  // A console line about what one client did, printed at most once a notice period for each
  // kind and peer address; those held back are counted in one line when the period is over.
  void Notice(std::string_view kind, const std::string& address, const std::string& line);
  // Whether an accept (or a close) from address may print its console lines now.
  bool ChurnLinesAllowed(const std::string& address, bool accepted);

  // Runs task later on the engine thread unless the engine is gone by then.
  Scheduler::TimerId Later(std::chrono::milliseconds delay, std::function<void()> task);

  // The server's own packets, as the connection they go to is to see them (null: as
  // ServerIP says): the address and MAC they carry, the packet, the packet encoded.
  const ServerIdentity& IdentityFor(const Connection* to);
  std::string CreatePacket(std::string_view payload, std::int32_t type, std::string_view subject,
                           const Connection* to);
  SharedBytes EncodePacket(std::string_view payload, std::int32_t type, std::string_view subject,
                           const Connection* to);
  // A server packet to every connection, made once for each address they reached.
  void BroadcastServerPacket(std::string_view payload, std::int32_t type, std::string_view subject);

  // A packet to one connection; with kHold, its next output waits policy::kAnswerHold.
  enum class After { kNothing, kHold };
  void SendDirect(Connection* connection, SharedBytes packet, After after);
  // Relayed packets wait in one buffer until the receive that brought them is done; anything
  // else the engine sends flushes them first, so every client sees the order in which the
  // packets were acted on.
  void AppendToRelay(std::string_view text);
  void FlushRelay();
  // One buffer to every connection that is not being kicked. 0 for nothing, else 1.
  int Broadcast(SharedBytes bytes);

  // Removes the connection, its users and closes it; an unknown key prints a line only.
  void CloseConnection(ConnectionKey key, const std::string& address);
  // The user names (or MACs) of the connection's users, as " (name, name)"; empty for none.
  std::string UsersOf(ConnectionKey key) const;

  // The user list: rebuilt for the subscribers now, or once the events already waiting have
  // been handled (a burst of accepts or closes makes one refresh); both send every user its
  // AFS value.
  void RefreshUserList();
  void RequestRefresh();
  void ReportUserCount();
  UserRow MakeRow(int index) const;
  UserRow MakeRow(const UserRecord& record) const;
  std::vector<UserRow> Rows() const;
  ServerStatus Status() const;
  std::string TooltipText() const;
  // The texts the windows need, after the settings were (re)loaded.
  void AnnounceTexts();
  void LookAtMachineAddresses();
  // A user's row as it is now, to subscribers that want user events.
  void PublishUser(const UserRecord& record, bool joined);

  // Texts read at each use: a command answer or profile text (empty, with one console line,
  // while the command file cannot be read) and a message of the settings file.
  std::string ReadCommandText(const std::string& key);
  std::string ReadMessageKey(const char* key);
  std::string BuildServerProfile(const Connection* to);

 private:
  void SendAfsValues();

  EngineState& s_;
  ServerIdentity configuredIdentity_;  // ServerIP and serverMac
  // With ServerIP empty: the identity for each local address connections reached.
  std::unordered_map<std::string, ServerIdentity> identities_;
  SharedBytes relayBatch_;
  // Kinds of notice (kind and address) held back in the current period, and how many.
  std::unordered_map<std::string, std::uint64_t> notices_;
  // Accepts and closes of each address in the current period: lines printed, and events
  // held back.
  struct Churn {
    std::uint32_t lines = 0;
    std::uint64_t accepts = 0;
    std::uint64_t closes = 0;
  };
  std::unordered_map<std::string, Churn> churn_;
  bool refreshPending_ = false;
  bool commandFileMissingSaid_ = false;
};

}  // namespace orv
