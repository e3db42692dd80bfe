// The engine with fake connections, driven by a script read from the input: connections
// come and go, send arbitrary bytes or well-formed packets (whole, split, joined, behind a
// zero byte), the operator runs commands, time passes, files change under the engine. After
// every step:
//  - every user belongs to a connection that is open, and none holds more users than
//    MaxUsersPerConnection allows; every user has a MAC;
//  - everything sent to a connection is whole packets ending in the terminator and the
//    few characters a client may write after it (or the socket-error notice), without a
//    zero byte;
//  - the status counts the users the table holds.
// Sanitizers watch the rest: user-list answers taken after the engine is gone, timers that
// fire late, connections closed in the middle of a receive.
//
// Input: two bytes of settings (see SettingsFile), then steps: an operation byte and its
// arguments (see Step).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "moderation/settings_loader.h"
#include "protocol/wire_constants.h"
#include "server/chat_server.h"
#include "support/engine_fakes.h"
#include "support/fixed_clock.h"

namespace orv::fuzz {
namespace {

using orv::testing::FakeConnection;
using orv::testing::FakeEnvironment;
using orv::testing::FakeNetwork;
using orv::testing::FakeScheduler;
using orv::testing::Output;
using orv::testing::WriteFile;

constexpr std::size_t kMaxConnections = 16;
constexpr int kMaxSteps = 400;
constexpr std::size_t kMaxReceive = 4096;  // a receive is 1 to 4096 bytes

// Shows nothing and keeps nothing, but asks for the rows and the user events so that the
// engine makes them, and looks at each row it is given.
class QuietView final : public EventSubscriber {
 public:
  void OnEvent(const EngineEvent& event) override {
    if (const auto* line = std::get_if<event::ConsoleLine>(&event)) {
      // ORV_FUZZ_SHOW=1 shows the console lines on stderr, for replaying one input by hand.
      if (show_) std::fprintf(stderr, "console: %s\n", Shown(line->text).c_str());
    } else if (const auto* list = std::get_if<event::UserList>(&event)) {
      for (const UserRow& row : list->rows)
        ORV_FUZZ_CHECK(!row.mac.empty(), "a row without a MAC");
    } else if (const auto* texts = std::get_if<event::Texts>(&event)) {
      ORV_FUZZ_CHECK(texts->texts.strings.size() == static_cast<std::size_t>(kStringCount),
                     "texts");
    } else if (const auto* joined = std::get_if<event::UserJoined>(&event)) {
      ORV_FUZZ_CHECK(!joined->user.mac.empty(), "a user without a MAC joined");
    }
  }

 private:
  const bool show_ = std::getenv("ORV_FUZZ_SHOW") != nullptr;
};

std::string LanguageFile() {
  std::string file = "[STRINGS]\r\n";
  for (int n = 0; n < kStringCount; ++n) {
    file += "STR" + std::to_string(n) + "=S" + std::to_string(n);
    if (n == 15 || n == 17 || n == 23 || n == 38) file += " %d";
    if ((n >= 27 && n <= 37) || n == 39 || n == 40) file += " %s";
    file += "\r\n";
  }
  return file;
}

constexpr const char* kCommandFile =
    "<help>\nUse the force\n</help>\n<INFO>\nA test server\n</INFO>\n<WWW>\nwww\n</WWW>\n"
    "<EMAIL>\nmail\n</EMAIL>\n<MODE>\nmode\n</MODE>\n";

struct Limits {
  int maxUsersPerConnection = 2;
};

std::string Tag(const std::string& key, const std::string& value) {
  return "<" + key + ">\n" + value + "\n</" + key + ">\n";
}

// The settings two bytes ask for.
std::string SettingsFile(std::uint8_t a, std::uint8_t b, Limits& limits) {
  std::string file = Tag("ServerName", "Srv") + Tag("ServerIP", "10.9.8.7") +
                     Tag("ServerPort", "5000") + Tag("FloodStopper", "10");
  static const char* const kPacketSizes[] = {nullptr, "64", "300", "0"};
  static const char* const kUsers[] = {nullptr, "1", "0", "3"};
  static const char* const kIdle[] = {nullptr, "1", "5", "0"};
  static const char* const kPerAddress[] = {nullptr, "1", "2", "3"};
  if (const char* v = kPacketSizes[a & 3]) file += Tag("MaxPacketSize", v);
  if (const char* v = kUsers[(a >> 2) & 3]) {
    file += Tag("MaxUsersPerConnection", v);
    // 0 is out of the setting's range: the server keeps its default then.
    if (const int users = std::stoi(v); users >= 1) limits.maxUsersPerConnection = users;
  }
  if (const char* v = kIdle[(a >> 4) & 3]) file += Tag("IdleTimeout", v);
  if (const char* v = kPerAddress[(a >> 6) & 3]) file += Tag("MaxConnectionsPerAddress", v);
  if (b & 1) file += Tag("DebugLog", "1");
  file += Tag("ServerAllowLog", (b & 2) ? "1" : "0");
  if (b & 4) file += Tag("BoardQuota", "16384") + Tag("BoardFileLimit", "100");
  if (!(b & 8)) {
    file += Tag("ServerWelcomeMessage", "Welcome!") + Tag("ServerCloseMessage", "Bye all") +
            Tag("ServerKickMessage", "Kicked") + Tag("ServerBlockMessage", "Blocked");
  }
  if (b & 0x80) file += Tag("MaxLineMessage", "5");
  return file;
}

class Script {
 public:
  Script(ByteReader& in, const std::filesystem::path& dir) : in_(in), dir_(dir) {}

  void Run() {
    const std::uint8_t a = in_.Byte();
    const std::uint8_t b = in_.Byte();
    ResetFolder(dir_);
    std::filesystem::create_directories(dir_ / "data");
    static const std::string kLanguage = LanguageFile();
    WriteFile(dir_ / "language" / "lang_english.cfg", kLanguage);
    WriteFile(dir_ / kCommandFileName, kCommandFile);
    settings_ = SettingsFile(a, b, limits_);
    WriteFile(dir_ / kSettingsFileName, settings_);
    if (b & 0x20) WriteFile(dir_ / "data" / "blocklist.cfg", "[LIST]\r\n10.0.0.5=1\r\nBB=1\r\n");
    if (b & 0x40) WriteFile(dir_ / "data" / "afs.cfg", "[LIST]\r\nAA=7\r\nCC=x\r\n");
    network_.fail = (b & 0x10) != 0;

    server_ = std::make_unique<ChatServer>(FakeEnvironment(dir_, clock_, scheduler_, network_));
    server_->Subscribe(std::shared_ptr<QuietView>(&view_, [](QuietView*) {}));
    terminator_ = server_->Codec().EncodeText(kTerminator);
    startBytes_ = PacketStartBytes(server_->Codec());
    server_->StartServer();
    Check();

    for (int step = 0; step < kMaxSteps && !in_.Empty(); ++step) {
      Step();
      Check();
    }

    server_->ShutdownServer();
    Check();
    // The engine goes; what it left behind (timers, user lists waiting for slow readers)
    // must not reach it any more.
    server_.reset();
    scheduler_.Advance(120000);
    for (auto& c : connections_)
      c->DrainSources();
  }

 private:
  // An open connection the input names, or none (the step's arguments are read all the
  // same, so that the steps after it stay as they were written).
  FakeConnection* Pick() {
    if (connections_.empty()) return nullptr;
    FakeConnection* c = connections_[in_.Pick(connections_.size())].get();
    return c->closed ? nullptr : c;
  }

  // Hands bytes to the engine as receives of at most 4096 bytes.
  void Receive(FakeConnection& c, std::string_view bytes) {
    while (!bytes.empty() && !c.closed) {
      const std::string_view piece = bytes.substr(0, kMaxReceive);
      server_->OnReceived(c, piece);
      bytes.remove_prefix(piece.size());
    }
  }

  std::string Choose(const std::vector<std::string>& choices) {
    const std::size_t n = in_.Pick(choices.size() + 1);
    return n < choices.size() ? choices[n] : std::string(in_.Text());
  }

  std::string Body(std::int32_t type) {
    if (IsStatusType(type)) return Choose({"1:online", "3:away:busy", "", "x:"});
    switch (type) {
      case packet_type::kChat:
        return Choose({"Srv: help", "Srv:INFO", "Srv", "hi", "Srv: nothing", "Srv: ../x"});
      case packet_type::kProfileRequest:
        return Choose({"Srv", "Srv x", "other"});
      case packet_type::kBoardFile: {
        const std::vector<std::string> choices = {"note.txt;hello",
                                                  "../up;x",
                                                  "a;",
                                                  ";x",
                                                  std::string(300, 'n') + ";c",
                                                  "big;" + std::string(200, 'b'),
                                                  "a\x01;x"};
        const std::size_t n = in_.Pick(choices.size() + 2);
        if (n < choices.size()) return choices[n];
        if (n == choices.size()) return std::string(in_.Text());
        // One of a few names, so that the folder fills up to its quota.
        const std::string name = "f" + std::to_string(in_.Byte() % 8) + ".txt;";
        return name + std::string(in_.Byte(), 'd');
      }
      default:
        return std::string(in_.Text());
    }
  }

  // A well-formed packet, encoded.
  std::string Packet() {
    const std::string ip = Choose({"192.168.1.20", "10.0.0.5", "", "1.2.3.4"});
    const std::string mac = Choose({"AA", "BB", "CC", "DD", "00AABBCCDDEE"});
    const std::string name = Choose({"alice", "bob", "mallory", "Srv", ""});
    static const std::int32_t kTypes[] = {2, 4, 5, 14, 16, 25, 34, 7, 6, 37, 45, 0};
    const std::size_t t = in_.Pick(std::size(kTypes) + 1);
    const std::int32_t type = t < std::size(kTypes) ? kTypes[t] : in_.Byte();
    const std::string body = Body(type);
    return server_->Codec().EncodeText(ip + "(" + mac + ")||" + name + "||av.gif||0.0||0||" +
                                       std::to_string(type) + "||" + body +
                                       std::string(kTerminator));
  }

  // Reads a packet and how it travels, then hands it over when there is a connection.
  void SendPacket(FakeConnection* c) {
    const std::string packet = Packet();
    const std::size_t how = in_.Pick(5);
    const std::size_t at = how == 1 ? in_.Byte() % (packet.size() + 1) : 0;
    if (c == nullptr) return;
    const std::string_view bytes = packet;
    switch (how) {
      case 0:
        Receive(*c, bytes);
        break;
      case 1:  // split in two receives
        Receive(*c, bytes.substr(0, at));
        Receive(*c, bytes.substr(at));
        break;
      case 2:  // behind a zero byte that ends garbage
        Receive(*c, "junk" + std::string(1, '\0') + packet);
        break;
      case 3:  // twice in one receive
        Receive(*c, packet + packet);
        break;
      default:  // byte by byte
        for (std::size_t i = 0; i < bytes.size(); ++i)
          Receive(*c, bytes.substr(i, 1));
        break;
    }
  }

  // An operator command: a refusal always says why.
  void Run(const OperatorCommand& command) {
    const Outcome outcome = server_->Execute(command);
    ORV_FUZZ_CHECK(outcome.done || !outcome.lines.empty(), "a refusal without a reason");
  }

  std::string RowMac(int row) {
    switch (in_.Pick(3)) {
      case 0:
        return {};
      case 1: {
        const UserRecord* record = server_->Users().At(row);
        return record != nullptr ? record->mac : std::string("ZZ");
      }
      default:
        return "ZZ";
    }
  }

  void ChangeFiles() {
    std::error_code ignored;
    switch (in_.Pick(8)) {
      case 0:
        std::filesystem::remove(dir_ / kCommandFileName, ignored);
        break;
      case 1:
        WriteFile(dir_ / kCommandFileName, kCommandFile);
        break;
      case 2:
        std::filesystem::remove(dir_ / kSettingsFileName, ignored);
        break;
      case 3:
        WriteFile(dir_ / kSettingsFileName, settings_);
        break;
      case 4:  // board/ cannot be made: every board file fails
        std::filesystem::remove_all(dir_ / "board", ignored);
        WriteFile(dir_ / "board", "not a folder");
        break;
      case 5:  // the lists cannot be written
        std::filesystem::remove_all(dir_ / "data", ignored);
        break;
      case 6:
        std::filesystem::create_directories(dir_ / "data", ignored);
        WriteFile(dir_ / "data" / "blocklist.cfg", std::string(in_.Text()));
        break;
      default:
        std::filesystem::create_directories(dir_ / "data", ignored);
        WriteFile(dir_ / "data" / "afs.cfg", std::string(in_.Text()));
        break;
    }
  }

  void Step() {
    switch (in_.Pick(19)) {
      case 0: {
        if (connections_.size() >= kMaxConnections) break;
        static const char* const kPeers[] = {"192.168.1.20", "192.168.1.21", "10.0.0.5", ""};
        auto c = std::make_shared<FakeConnection>(nextKey_++, kPeers[in_.Pick(4)], scheduler_);
        c->deferSources = in_.Bool();
        connections_.push_back(c);
        checked_.push_back(0);
        server_->OnAccepted(c);
        break;
      }
      case 1: {
        FakeConnection* c = Pick();
        const std::string_view bytes = in_.Text();
        if (c != nullptr) Receive(*c, bytes);
        break;
      }
      case 2:
      case 3:
        SendPacket(Pick());
        break;
      case 4:
        if (FakeConnection* c = Pick()) server_->OnPeerClosed(*c);
        break;
      case 5:
        if (FakeConnection* c = Pick()) server_->OnReceiveError(*c);
        break;
      case 6:
        if (FakeConnection* c = Pick()) server_->OnOverflow(*c);
        break;
      case 7: {
        const int row = static_cast<int>(in_.Byte() % 20) - 1;
        const int afs = static_cast<int>(in_.Byte()) - 20;
        std::string mac = RowMac(row);
        static const BlockState kBy[] = {BlockState::kNone, BlockState::kIp, BlockState::kMac,
                                         BlockState::kName, BlockState::kAddress};
        switch (in_.Pick(4)) {
          case 0:
            Run(command::Kick{std::move(mac)});
            break;
          case 1:
            Run(command::Block{std::move(mac), kBy[in_.Pick(std::size(kBy))]});
            break;
          case 2:
            Run(command::SetAfs{std::move(mac), afs});
            break;
          default:
            Run(command::Unblock{std::move(mac)});
            break;
        }
        break;
      }
      case 8: {
        // The stored blocks, listed and lifted.
        const Outcome blocks = server_->Execute(command::Blocks{});
        if (!blocks.blocks.empty()) {
          Run(command::UnblockEntry{blocks.blocks[in_.Pick(blocks.blocks.size())].key});
        } else {
          Run(command::UnblockEntry{std::string(in_.Text())});
        }
        break;
      }
      case 9: {
        // Operator text, without zero bytes (they cannot be typed).
        std::string text(in_.Text());
        std::erase(text, '\0');
        Run(command::Send{text});
        break;
      }
      case 10:
        Run(in_.Pick(2) == 0 ? OperatorCommand(command::Refresh{})
                             : OperatorCommand(command::Reload{}));
        break;
      case 11: {
        static const std::int64_t kSteps[] = {10, 499, 500, 1000, 3000, 60000, 61000};
        const std::size_t n = in_.Pick(std::size(kSteps) + 1);
        scheduler_.Advance(n < std::size(kSteps) ? kSteps[n] : in_.Byte() * 100);
        break;
      }
      case 12:
        server_->OnAcceptFailed(std::string(in_.Text()));
        break;
      case 13: {  // a packet the server makes itself
        const std::string packet = Packet();
        server_->Dispatch(packet, nullptr);
        break;
      }
      case 14:
        if (in_.Pick(8) == 0) server_->ShutdownServer();
        break;
      case 15: {
        FakeConnection* c = Pick();
        const std::string_view bytes = in_.LongText();
        if (c != nullptr) Receive(*c, bytes);
        break;
      }
      case 16:
        ChangeFiles();
        break;
      case 17:
        if (FakeConnection* c = Pick()) c->DrainSources();
        break;
      default:
        Crowd(1 + in_.Byte() % 8);
        break;
    }
  }

  // Users enough for user lists of several blocks: each on a connection of its own.
  void Crowd(int count) {
    static const char* const kPeers[] = {"192.168.2.1", "192.168.2.2", "192.168.2.3"};
    for (int i = 0; i < count && connections_.size() < kMaxConnections; ++i) {
      const int n = crowd_++;
      auto c = std::make_shared<FakeConnection>(nextKey_++, kPeers[n % 3], scheduler_);
      connections_.push_back(c);
      checked_.push_back(0);
      server_->OnAccepted(c);
      const std::string text = "192.168.2.9(M" + std::to_string(n) + ")||user" + std::to_string(n) +
                               "||av.gif||0.0||0||" + (n % 2 ? "2" : "4") + "||1:online" +
                               std::string(kTerminator);
      Receive(*c, server_->Codec().EncodeText(text));
    }
  }

  void Check() {
    std::map<std::int32_t, const FakeConnection*> byKey;
    for (const auto& c : connections_)
      byKey[c->Key().value] = c.get();
    const UserTable& users = server_->Users();
    std::map<std::int32_t, int> perConnection;
    for (int i = 0; i < users.GetCount(); ++i) {
      const UserRecord* user = users.At(i);
      ORV_FUZZ_CHECK(!user->mac.empty(), "a user without a MAC");
      const auto it = byKey.find(user->connection.value);
      ORV_FUZZ_CHECK(it != byKey.end(), "user " + Shown(user->mac) + " of an unknown connection");
      ORV_FUZZ_CHECK(!it->second->closed, "user " + Shown(user->mac) + " of a closed connection");
      ++perConnection[user->connection.value];
    }
    for (const auto& [key, count] : perConnection) {
      ORV_FUZZ_CHECK(
          count <= limits_.maxUsersPerConnection,
          "connection " + std::to_string(key) + " holds " + std::to_string(count) + " users");
    }
    ORV_FUZZ_CHECK(server_->Status().users == users.GetCount(), "status users");
    ORV_FUZZ_CHECK(server_->Execute(command::Users{}).users.size() ==
                       static_cast<std::size_t>(users.GetCount()),
                   "rows");

    for (std::size_t i = 0; i < connections_.size(); ++i) {
      const auto& outputs = connections_[i]->outputs;
      for (; checked_[i] < outputs.size(); ++checked_[i]) {
        const Output& o = outputs[checked_[i]];
        if (o.kind != Output::kSend) continue;
        const std::string_view bytes = o.bytes;
        ORV_FUZZ_CHECK(bytes.find('\0') == std::string_view::npos, Shown(bytes));
        // After the last terminator (or alone, when they came in a receive of their own)
        // only the few characters a client wrote after its packet.
        const std::size_t last = bytes.rfind(terminator_);
        const std::string_view after =
            last == std::string_view::npos ? bytes : bytes.substr(last + terminator_.size());
        bool trailer = after.size() <= PacketAssembler::kMaxTrailer;
        for (const char c : after)
          trailer = trailer && !startBytes_[static_cast<unsigned char>(c)];
        ORV_FUZZ_CHECK(trailer || bytes == kSocketErrorNotice, "sent: " + Shown(bytes));
      }
    }
  }

  ByteReader& in_;
  std::filesystem::path dir_;
  std::string settings_;
  Limits limits_;
  orv::testing::FixedClock clock_;
  FakeScheduler scheduler_;
  FakeNetwork network_;
  QuietView view_;
  std::string terminator_;
  StartBytes startBytes_{};
  std::vector<std::shared_ptr<FakeConnection>> connections_;
  std::vector<std::size_t> checked_;
  std::int32_t nextKey_ = 100;
  int crowd_ = 0;
  // Last: the engine goes before everything it was given.
  std::unique_ptr<ChatServer> server_;
};

}  // namespace
}  // namespace orv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orv::fuzz;
  ByteReader in(data, size);
  Script script(in, ScratchFolder() / "engine");
  script.Run();
  return 0;
}
