#include "engine_fixture.h"

#include <random>
#include <sstream>

namespace orv::testing {

namespace {

// Language strings that show their own number, so tests can tell which one was used.
std::string TestLanguageFile() {
  std::string file = "[STRINGS]\n";
  for (int n = 0; n <= 40; ++n) {
    std::string value = "S" + std::to_string(n);
    if (n == 15 || n == 17 || n == 23 || n == 38) value += " %d";
    if ((n >= 27 && n <= 37) || n == 39 || n == 40) value += " %s";
    file += "STR" + std::to_string(n) + "=" + value + "\n";
  }
  return file;
}

}  // namespace

EngineTest::EngineTest() {
  static std::atomic<int> counter{0};
  workDir_ = std::filesystem::temp_directory_path() /
             ("orv-engine-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(workDir_);
  std::filesystem::create_directories(workDir_ / "data");
  std::filesystem::create_directories(workDir_ / "language");
  WriteFile("language/lang_english.cfg", TestLanguageFile());
  WriteFile("orvchatserver_command.cfg",
            "<help>\nUse the force\n</help>\n<INFO>\nA test server\n</INFO>\n<WWW>\nwww\n</WWW>\n"
            "<EMAIL>\nmail\n</EMAIL>\n<MODE>\nmode\n</MODE>\n");
  messages_["ServerWelcomeMessage"] = "Welcome!";
  messages_["ServerCloseMessage"] = "Bye all";
  messages_["ServerKickMessage"] = "Kicked";
  messages_["ServerBlockMessage"] = "Blocked";
  WriteSettings();
}

EngineTest::~EngineTest() {
  server_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(workDir_, ignored);
}

void EngineTest::WriteFile(const std::string& relative, const std::string& content) {
  std::ofstream out(workDir_ / relative, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string EngineTest::ReadFile(const std::string& relative) const {
  std::ifstream in(workDir_ / relative, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void EngineTest::SetMessage(const std::string& key, const std::string& value) {
  messages_[key] = value;
  WriteSettings();
}

void EngineTest::WriteSettings() {
  std::string file = "<ServerName>\nSrv\n</ServerName>\n<ServerIP>\n" + serverIp_ +
                     "\n</ServerIP>\n<ServerPort>\n5000\n</ServerPort>\n<FloodStopper>\n10\n"
                     "</FloodStopper>\n";
  for (const auto& [key, value] : messages_) {
    file += "<" + key + ">\n" + value + "\n</" + key + ">\n";
  }
  WriteFile("orvchatserver.cfg", file);
}

void EngineTest::Start() {
  server_ = std::make_unique<ChatServer>(FakeEnvironment(workDir_, clock_, scheduler_, network_));
  // The view belongs to the fixture, which outlives the engine.
  server_->Subscribe(std::shared_ptr<RecordingView>(&view_, [](RecordingView*) {}));
  server_->StartServer();
}

bool EngineTest::Run(const OperatorCommand& command) {
  last_ = server_->Execute(command);
  if (!last_.done) refusals_.insert(refusals_.end(), last_.lines.begin(), last_.lines.end());
  return last_.done;
}

std::string EngineTest::MacAt(int row) const {
  const UserRecord* record = server_->Users().At(row);
  return record != nullptr ? record->mac : std::string();
}

std::shared_ptr<FakeConnection> EngineTest::Connect(const std::string& peer) {
  auto connection = std::make_shared<FakeConnection>(nextKey_++, peer, scheduler_);
  connections_.push_back(connection);
  server_->OnAccepted(connection);
  Settle();
  return connection;
}

std::string EngineTest::Packet(const std::string& mac, const std::string& name, std::int32_t type,
                               const std::string& body, const std::string& ip) const {
  return server_->Codec().EncodeText(ip + "(" + mac + ")||" + name + "||av.gif||0.0||0||" +
                                     std::to_string(type) + "||" + body + "//end");
}

void EngineTest::Receive(const std::shared_ptr<FakeConnection>& connection,
                         const std::string& bytes) {
  server_->OnReceived(*connection, bytes);
}

std::shared_ptr<FakeConnection> EngineTest::Login(const std::string& mac, const std::string& name,
                                                  const std::string& ip) {
  auto connection = Connect(ip);
  Receive(connection, Packet(mac, name, 4, "1:online", ip));
  return connection;
}

Seen EngineTest::Decode(const std::string& bytes) const {
  const std::string text = server_->Codec().DecodeText(bytes);
  Seen seen;
  const PacketHeader header = ReadPacketHeader(text);
  seen.ip = std::string(header.ip);
  seen.mac = std::string(header.mac);
  seen.name = std::string(header.name);
  seen.type = header.type;
  seen.body = std::string(header.body);
  // subject: the third field after the MAC
  std::string_view rest = ExtractField(text, "||", Side::kAfter);
  rest = ExtractField(ExtractField(rest, "||", Side::kAfter), "||", Side::kAfter);
  seen.subject = std::string(ExtractField(rest, "||", Side::kBefore));
  return seen;
}

std::vector<Seen> EngineTest::DecodedSent(const FakeConnection& connection) const {
  std::vector<Seen> seen;
  for (const auto& bytes : connection.Sent())
    seen.push_back(Decode(bytes));
  return seen;
}

void EngineTest::ClearOutputs() {
  for (auto& c : connections_)
    c->outputs.clear();
  view_.console.clear();
}

}  // namespace orv::testing
