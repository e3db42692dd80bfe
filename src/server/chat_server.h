// The engine: ties the settings, the user table, the dispatcher, moderation and the
// connections together, reacts to what the network reports and carries out the operator's
// commands. It lives on the engine thread; other threads reach it only by posting work
// there (see net/engine_host.h). Every public call asserts that in debug builds.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "console/clock.h"
#include "console/console_output.h"
#include "console/language_table.h"
#include "console/log_file.h"
#include "console/string_id.h"
#include "files/tagged_file.h"
#include "moderation/afs_list.h"
#include "moderation/block_list.h"
#include "moderation/board_folder.h"
#include "moderation/settings.h"
#include "protocol/packet_start.h"
#include "protocol/text_fields.h"
#include "protocol/wire_codec.h"
#include "server/connection_list.h"
#include "server/network.h"
#include "server/operator_view.h"
#include "server/scheduler.h"
#include "users/server_packets.h"
#include "users/user_table.h"

namespace orv {

struct ServerEnvironment {
  std::filesystem::path workDir;  // every file is resolved against it
  const Clock* clock = nullptr;
  Scheduler* scheduler = nullptr;
  Network* network = nullptr;
  OperatorView* view = nullptr;
  WireCodec codec = WireCodec::BuiltIn();
  std::function<std::string(const std::string&)> lookupMac;    // LookupMacAddress by default
  std::function<std::vector<std::string>()> machineAddresses;  // MachineAddresses by default
  std::string programVersion;  // GetVersionString of this build, e.g. "1.3.1.0"
};

// Operator commands on a row of the user list.
enum class RowCommand {
  kKick,
  kBlockIp,
  kBlockMac,
  kBlockName,
  kUnblockIp,
  kUnblockMac,
  kUnblockName,
  kBlockAddress,  // the address the connection comes from
  kUnblockAddress,
  kSetAfs
};

class ChatServer final : public ConnectionEvents {
 public:
  explicit ChatServer(ServerEnvironment env);
  ~ChatServer() override;
  ChatServer(const ChatServer&) = delete;
  ChatServer& operator=(const ChatServer&) = delete;

  // Banner, settings report, listening, list-refresh timer.
  void StartServer();
  bool IsListening() const { return listening_; }

  // What the network reports (connection_events.cpp).
  void OnAccepted(std::shared_ptr<Connection> connection) override;
  void OnReceived(Connection& connection, std::string_view data) override;
  void OnReceiveError(Connection& connection) override;
  void OnPeerClosed(Connection& connection) override;
  void OnOverflow(Connection& connection) override;
  void OnAcceptFailed(const std::string& reason) override;

  // Operator commands. Texts are code-page bytes.
  // The command line: trimmed, and sent when at least 2 bytes remain.
  void OnSend(const std::string& text);
  // A type-6 packet from the server to every connection.
  void BroadcastAsServer(std::string_view text);
  void OnRefresh();
  // Carries out a context-menu command on row; when the menu would not offer it for that
  // row (row out of range, block on a blocked user, AFS out of 0..100), or when the row no
  // longer holds expectedMac (the list changed since the operator looked), nothing happens
  // and the reason goes to refusal when given, else to the view. An empty expectedMac is
  // not checked. Returns whether it was carried out.
  bool RunRowCommand(RowCommand command, int row, int afsValue = 0,
                     std::string_view expectedMac = {}, std::string* refusal = nullptr);
  // The unblock the menu offers for the row's block state.
  bool UnblockRow(int row, std::string_view expectedMac = {}, std::string* refusal = nullptr);
  // Reads the settings file again and takes what can change while the server runs: the
  // language, the name, the log switches, the console length, the default AFS value, the
  // limits. A file with errors changes nothing; a changed address or port is reported as
  // waiting for a restart. Messages, the command file and the lists are read at each use
  // anyway. Returns whether the settings were taken.
  bool Reload();
  // Close message to everybody, final log lines. A second call does nothing.
  void ShutdownServer();

  // The console lines action prints (code-page texts), besides showing them as always.
  std::vector<std::string> CaptureConsole(const std::function<void()>& action);

  // Read access for front-ends and tests.
  const Settings& GetSettings() const { return settings_; }
  const UserTable& Users() const { return users_; }
  std::vector<UserRow> Rows() const;
  ServerStatus Status() const;
  const WireCodec& Codec() const { return env_.codec; }

  // The dispatcher: reads one received unit, applies the rules of its type and returns the
  // text to relay, or "BLOCK". connection is null for packets the server makes itself.
  std::string ParseMessage(std::string_view received, Connection* connection);

  // Rebuilds the operator's view and sends every user its AFS value.
  void RefreshUserList();
  // The same, once the events already waiting have been handled: a burst of accepts or
  // closes (a login storm) makes one refresh, not one per connection, so nobody receives
  // the same AFS value a thousand times over.
  void RequestRefresh();

 private:
  void AssertEngineThread() const;
  void PrintText(const std::string& text, bool stamp, bool log) {
    console_.PrintText(text, stamp, log);
  }
  void Trace(std::string_view text) { console_.DebugTrace(text); }
  std::string Format(StringId id, std::string_view arg) const;
  std::string FormatCount(StringId id, std::int64_t arg) const;
  // A server packet as the connection it goes to is to see it (null: as ServerIP says).
  std::string CreatePacket(std::string_view payload, std::int32_t type, std::string_view subject,
                           const Connection* to);
  SharedBytes EncodePacket(std::string_view payload, std::int32_t type, std::string_view subject,
                           const Connection* to);
  // The address and MAC the server's packets to the connection carry.
  const ServerIdentity& IdentityFor(const Connection* to);
  // A server packet to every connection, made once for each address they reached.
  void BroadcastServerPacket(std::string_view payload, std::int32_t type, std::string_view subject);

  // Connections (connection_events.cpp).
  // Dispatches one received packet; what is to be relayed joins the relay batch. Whether it
  // is relayed.
  bool ReadMessage(Connection& connection, std::string_view text);
  void AppendToRelay(std::string_view text);
  // Relays the packets of one receive that are waiting, as one buffer. Everything else the
  // engine sends calls this first, so what a connection receives keeps the order in which
  // the packets were acted on.
  void FlushRelay();
  // Sends text to every connection, in order of acceptance. 0 for an empty text, else 1.
  int SendToAll(std::string_view text);
  int Broadcast(SharedBytes bytes);
  // Removes the connection, its user records and closes it; an unknown key prints a line
  // only.
  void CloseConnection(ConnectionKey key, const std::string& address);
  void ReportUserCount();

  // The dispatcher (message_dispatcher.cpp); true when the received text is to be relayed.
  bool Dispatch(std::string_view received, Connection* connection);
  void SendDirect(Connection* connection, SharedBytes packet, bool hold);
  // Whether the connection may speak for the packet's MAC: a complete header, a MAC no
  // connection from another address holds, and room for one more user on the connection.
  // A packet with an incomplete header is only relayed (unless its connection is blocked).
  // When the MAC's record is held by another connection from the same address, replaced
  // names that connection: the record moves and the old connection is to be closed.
  enum class Admission { kAdmitted, kRelayOnly, kRefused };
  // Whether a client's packet is of a type only the server sends, or carries the server's
  // MAC; such packets are neither relayed nor acted on (with a console line now and then).
  bool PosesAsServer(const PacketHeader& header, const Connection& connection);
  // Says when a MAC registers from another address than the one it last came from.
  void NoteMacAddress(std::string_view mac, std::string_view peer);
  Admission AdmitSender(const PacketHeader& header, Connection& connection,
                        ConnectionKey* replaced);
  bool RefuseBlocked(const PacketHeader& header, std::string_view peer, Connection* connection);
  void WriteBoardFile(Connection* connection, std::string_view fileName, std::string_view content);
  void SendUserList(std::string_view mac, Connection* connection);

  // Operator commands (operator_commands.cpp).
  // Why the command cannot run on row; empty when it can.
  std::string CheckRow(RowCommand command, int row, int afsValue, std::string_view expectedMac);
  void Refuse(const std::string& reason, std::string* refusal);
  void KickUser(int row);
  void ChangeBlock(int row, BlockState kind, bool block);
  // The block-list keys a block of user by kind writes; note says why the reported IP is
  // left out of a block by IP when it is.
  std::vector<std::string> BlockKeys(const UserRecord& user, BlockState kind, std::string* note);
  // The other users online whom entries under keys would refuse, as "name (address), ...".
  std::string AlsoRefused(const std::vector<std::string>& keys, const std::string& mac);
  void SetAfs(int row, std::int32_t value);
  void ReportBlockListWrite(bool written);

  // A console line about what one client did, printed at most once a minute for each kind
  // and peer address; those held back are counted in one line when the minute is over.
  void Notice(std::string_view kind, const std::string& address, const std::string& line);
  // Whether an accept (or a close) from address may print its console lines now.
  bool ChurnLinesAllowed(const std::string& address, bool accepted);
  void CloseIdleConnections();
  void ArmIdleCheck();
  // The user names (or MACs) of the connection's records, as " (name, name)"; empty when it
  // has none.
  std::string UsersOf(ConnectionKey key) const;
  // Removes the day logs older than LogKeepDays, now and once a day.
  void PruneLogs();
  void ArmLogPruning();
  void LookAtMachineAddresses();
  // Texts for the view after the settings were (re)loaded.
  void AnnounceTexts();

  void SendAfsValues();
  std::string BuildServerProfile(const Connection* to);
  std::string ReadCommandText(const std::string& key);
  std::string ReadMessageKey(const char* key);
  void ArmListRefreshTimer();
  std::string TooltipText() const;
  UserRow MakeRow(int index) const;
  // Runs task later on the engine thread unless this server is gone by then.
  Scheduler::TimerId Later(std::chrono::milliseconds delay, std::function<void()> task);

  // Console lines go to the view, and to a capture while one runs.
  class ConsoleTee final : public ConsoleSink {
   public:
    explicit ConsoleTee(ConsoleSink& view) : view_(view) {}
    void ConsoleLineAppended(const std::string& line) override {
      if (capture != nullptr) capture->push_back(line);
      view_.ConsoleLineAppended(line);
    }
    void ConsoleCleared() override { view_.ConsoleCleared(); }
    std::vector<std::string>* capture = nullptr;

   private:
    ConsoleSink& view_;
  };

  ServerEnvironment env_;
  const std::thread::id engineThread_ = std::this_thread::get_id();
  Settings settings_;
  LogWriter log_;
  LanguageTable language_;
  ConsoleTee tee_;
  Console console_;
  UserTable users_;
  ServerPackets packets_;
  ServerIdentity configuredIdentity_;  // ServerIP and serverMac
  // With ServerIP empty: the identity for each local address connections reached.
  std::unordered_map<std::string, ServerIdentity> identities_;
  // Reads go through a cache that follows the file, also from the const row views.
  mutable BlockList blockList_;
  AfsList afsList_;
  TaggedFile settingsFile_;
  TaggedFile commandFile_;
  ConnectionList connections_;
  BoardFolder board_;
  std::string wireTerminator_;               // "//end" as it travels
  StartBytes startBytes_{};                  // bytes that may begin a packet, as they travel
  std::shared_ptr<std::string> relayBatch_;  // the packets of this receive to relay
  // Kinds of notice (kind and connection) held back in the current minute, and how many.
  std::unordered_map<std::string, std::uint64_t> notices_;
  // Accepts and closes of each address in the current minute: lines printed, and events
  // held back.
  struct Churn {
    std::uint32_t lines = 0;
    std::uint64_t accepts = 0;
    std::uint64_t closes = 0;
  };
  std::unordered_map<std::string, Churn> churn_;
  // The address each MAC last registered from (bounded; see NoteMacAddress).
  std::unordered_map<std::string, std::string, UserTable::TextHash, std::equal_to<>>
      lastAddressOfMac_;

  // With ServerIP empty: the machine's addresses clients can use (looked at again on
  // Refresh and reload).
  std::vector<std::string> machineAddresses_;
  bool listening_ = false;
  bool refreshPending_ = false;
  std::string listenError_;
  std::int64_t startedAtMs_ = 0;
  bool acceptFailureSaid_ = false;
  bool idleCheckArmed_ = false;
  bool logPruningArmed_ = false;
  bool commandFileMissingSaid_ = false;
  bool shutDown_ = false;
  Scheduler::TimerId listTimer_ = 0;
  bool listTimerArmed_ = false;
  std::string scratch_;  // reused decode buffer of the dispatcher
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace orv
