// The control channel: request lines for orvchatctl's words, the answer's wire form, the
// commands carried out through the engine's commands, the --json forms, stored blocks lifted
// by key, the socket itself, and its followers.
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "app/control_client.h"
#include "app/control_protocol.h"
#include "app/control_server.h"
#include "app/control_trust.h"
#include "app/headless_view.h"
#include "console/code_page.h"
#include "console/escape.h"
#include "fake_commands.h"
#include "support/temp_folder.h"

namespace orv {
namespace {

using testing::FakeCommands;
using testing::TempFolder;
using namespace std::chrono_literals;

TEST(ControlRequest, WordsBecomeRequestLinesThatOneTableReads) {
  std::string error;
  auto request = [&error](const std::string& word, std::vector<std::string> args = {}) {
    return ControlRequestFor(word, args, &error).value_or("<none>");
  };
  EXPECT_EQ(request("status"), "/status");
  EXPECT_EQ(request("users", {"--json"}), "/users --json");
  EXPECT_EQ(request("kick", {"AA01"}), "/kick AA01");
  EXPECT_EQ(request("block", {"mac", "AA01"}), "/block mac AA01");
  EXPECT_EQ(request("unblock", {"AA01"}), "/unblock AA01");
  EXPECT_EQ(request("unblock", {"--name", "Ann", "Lee"}), "/unblock --name Ann Lee");
  EXPECT_EQ(request("afs", {"AA 01", "20"}), "/afs AA 01 20");
  EXPECT_EQ(request("stop"), "/stop");
  // Texts: words joined, one line, a leading slash kept.
  EXPECT_EQ(request("send", {"hello", "all"}), "/send hello all");
  EXPECT_EQ(request("send", {"/me", "waves"}), "/send /me waves");
  EXPECT_EQ(request("send", {"two\nlines"}), "/send two lines");
  EXPECT_EQ(request("exit"), "<none>");
  EXPECT_EQ(error, "unknown command 'exit'");
  // Wrong arguments are told before anything is sent.
  EXPECT_EQ(request("status", {"now"}), "<none>");
  EXPECT_EQ(error, "status takes no arguments but --json");
  EXPECT_EQ(request("unblock", {"--ip"}), "<none>");
  EXPECT_EQ(error, "unblock --ip needs the key of a stored block as 'orvchatctl blocks' prints it");
  EXPECT_EQ(request("unblock", {"--address", "10.0.0.7"}), "<none>");
  EXPECT_EQ(request("afs", {"AA01", "101"}), "<none>");
  EXPECT_EQ(request("send"), "<none>");
  EXPECT_EQ(request("refresh", {"all"}), "<none>");

  // What each line becomes: the operator command, and how it is answered.
  using Kind = ControlRequest::Kind;
  struct Case {
    const char* line;
    Kind kind;
    OperatorCommand command;
    std::string named;
    bool json;
  };
  const Case cases[] = {
      {"/status", Kind::kEngine, command::Status{}, "", false},
      {"/status --json", Kind::kEngine, command::Status{}, "", true},
      {"/users --json", Kind::kEngine, command::Users{}, "", true},
      {"/blocks", Kind::kEngine, command::Blocks{}, "", false},
      {"/refresh", Kind::kEngine, command::Refresh{}, "", false},
      {"/reload", Kind::kEngine, command::Reload{}, "", false},
      {"/send  \xD0\x96 hi ", Kind::kEngine, command::Send{"\xC6 hi"}, "", false},
      {"/kick A B", Kind::kForUser, command::Kick{}, "A B", false},
      {"/block name AA01", Kind::kForUser, command::Block{"", BlockState::kName}, "AA01", false},
      {"/block address AA01", Kind::kForUser, command::Block{"", BlockState::kAddress}, "AA01",
       false},
      {"/unblock AA01", Kind::kForUser, command::Unblock{}, "AA01", false},
      {"/afs AA 01 7", Kind::kForUser, command::SetAfs{"", 7}, "AA 01", false},
      {"/unblock --mac 00AABBCCDDEE", Kind::kForEntry, command::UnblockEntry{}, "00AABBCCDDEE",
       false},
      {"/unblock --name Ann Lee", Kind::kForEntry, command::UnblockEntry{}, "Ann Lee", false},
      {"/follow --json", Kind::kFollow, command::Status{}, "", true},
      {"/stop", Kind::kStop, command::Status{}, "", false},
      {"/help", Kind::kHelp, command::Status{}, "", false},
  };
  for (const Case& c : cases) {
    const ControlRequest read = ReadControlRequest(c.line);
    EXPECT_EQ(read.kind, c.kind) << c.line << ": " << read.usage;
    EXPECT_EQ(read.command, c.command) << c.line << ": " << Describe(read.command);
    EXPECT_EQ(read.named, c.named) << c.line;
    EXPECT_EQ(read.json, c.json) << c.line;
  }
  // Lines of an older orvchatctl, and of the console, are not requests.
  for (const char* line : {"/exit", "hello all", "", "/"})
    EXPECT_EQ(ReadControlRequest(line).kind, Kind::kUsage) << line;
  // The help lists every form from the same table.
  const std::string help = ControlHelpText();
  for (const char* form :
       {"\n  status [--json]", "\n  unblock MAC", "\n  unblock --ip|--mac|--name VALUE",
        "\n  follow [--json]", "\n  blocks [--json]"})
    EXPECT_NE(help.find(form), std::string::npos) << form << "\n" << help;
}

TEST(ControlAnswer, RoundTripsAndAnIncompleteAnswerIsNoAnswer) {
  ControlAnswer answer;
  answer.status = kControlRefused;
  answer.Out("first");
  answer.Err("second\nthird");
  answer.Out("");
  const std::string wire = EncodeControlAnswer(answer);
  EXPECT_EQ(wire, "out first\nerr second\nerr third\nout \nend 1\n");
  const auto decoded = DecodeControlAnswer(wire);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->status, kControlRefused);
  ASSERT_EQ(decoded->lines.size(), 4u);
  EXPECT_FALSE(decoded->lines[2].toStdout);
  EXPECT_EQ(decoded->lines[2].text, "third");
  EXPECT_FALSE(DecodeControlAnswer("out first\n"));
  EXPECT_FALSE(DecodeControlAnswer("out first\nend 0"));
  EXPECT_FALSE(DecodeControlAnswer("something\nend 0\n"));
  EXPECT_FALSE(DecodeControlAnswer(""));
}

// Runs one request line against engine and returns the answer.
ControlAnswer Execute(FakeCommands& engine, const std::string& line, bool* stopped = nullptr) {
  ControlAnswer result;
  bool answered = false;
  ExecuteControlRequest(
      engine, line,
      [&](ControlAnswer answer) {
        EXPECT_FALSE(answered) << "answered twice";
        answered = true;
        result = std::move(answer);
      },
      [&] {
        EXPECT_TRUE(answered) << "stopped before the answer";
        if (stopped) *stopped = true;
      });
  EXPECT_TRUE(answered) << line;
  return result;
}

std::vector<std::string> Texts(const ControlAnswer& answer) {
  std::vector<std::string> texts;
  for (const auto& line : answer.lines)
    texts.push_back(line.text);
  return texts;
}

TEST(ControlRequest, CarriedOutThroughTheEngineCommands) {
  FakeCommands engine;
  engine.status = {"1.3.1.0 beta", "127.0.0.1", 9010, true, "", 2, 1000, 3'723'000 + 1000};
  EXPECT_EQ(
      Texts(Execute(engine, "/status")),
      (std::vector<std::string>{"version: 1.3.1.0 beta", "listening on 127.0.0.1:9010",
                                "users online: 2", "connections: 0", "uptime: 0 d 01:02:03"}));
  engine.status.listening = false;
  engine.status.address.clear();
  engine.status.notListeningReason = "Address already in use";
  EXPECT_EQ(Texts(Execute(engine, "/status"))[1],
            "not listening on 0.0.0.0:9010: Address already in use");

  EXPECT_EQ(Texts(Execute(engine, "/users")), std::vector<std::string>{"no users"});
  engine.rows.push_back({"AA01", "ann", "10.0.0.7", "127.0.0.1", "", BlockState::kNone, -1});
  const ControlAnswer users = Execute(engine, "/users");
  ASSERT_EQ(users.lines.size(), 2u);
  EXPECT_EQ(users.lines[0].text.rfind("MAC   name", 0), 0u) << users.lines[0].text;
  EXPECT_EQ(users.lines[1].text.rfind("AA01  ann", 0), 0u) << users.lines[1].text;

  ControlAnswer kick = Execute(engine, "/kick AA01");
  EXPECT_EQ(kick.status, kControlOk);
  EXPECT_EQ(Texts(kick), std::vector<std::string>{"Kicked user at 10.0.0.7 (ann)"});
  engine.rows[0].blockState = BlockState::kName;
  ControlAnswer refused = Execute(engine, "/block ip AA01");
  EXPECT_EQ(refused.status, kControlRefused);
  ASSERT_EQ(refused.lines.size(), 1u);
  EXPECT_FALSE(refused.lines[0].toStdout);
  EXPECT_EQ(refused.lines[0].text, "The user with MAC AA01 is blocked already.");
  EXPECT_EQ(Execute(engine, "/unblock AA01").status, kControlOk);
  EXPECT_EQ(engine.userCommands,
            (std::vector<std::string>{"kick AA01", "block AA01", "unblock AA01"}));
  EXPECT_EQ(Execute(engine, "/send hello all").status, kControlOk);
  EXPECT_EQ(engine.sent.back(), "hello all");
  const ControlAnswer tooShort = Execute(engine, "/send x");
  EXPECT_EQ(tooShort.status, kControlRefused);
  EXPECT_EQ(Texts(tooShort),
            std::vector<std::string>{"Nothing was sent: a message needs at least 2 characters."});

  EXPECT_EQ(Execute(engine, "/reload").status, kControlOk);
  engine.reloadWorks = false;
  EXPECT_EQ(Execute(engine, "/reload").status, kControlRefused);
  EXPECT_EQ(engine.reloads, 2);

  // Mistakes are usage errors.
  const ControlAnswer mistake = Execute(engine, "/afs AA01 101");
  EXPECT_EQ(mistake.status, kControlUsage);
  EXPECT_NE(mistake.lines[0].text.find("0 to 100"), std::string::npos);
  for (const char* line : {"/afs 20", "/afs AA01", "/kick", "/block AA01", "/block ip"})
    EXPECT_EQ(Execute(engine, line).status, kControlUsage) << line;
  EXPECT_NE(Texts(Execute(engine, "/help"))[0].find("the MAC that 'users' prints"),
            std::string::npos);
  EXPECT_EQ(Execute(engine, "").status, kControlUsage);
  EXPECT_EQ(Execute(engine, "/status now").status, kControlUsage);

  bool stopped = false;
  const ControlAnswer stop = Execute(engine, "/stop", &stopped);
  EXPECT_TRUE(stopped);
  EXPECT_EQ(Texts(stop), std::vector<std::string>{"The server is stopping."});
}

TEST(ControlRequest, AUserIsNamedByTheMacUsersPrintsNeverByRow) {
  FakeCommands engine;
  auto row = [](std::string mac, std::string name) {
    return UserRow{
        std::move(mac), std::move(name), "10.0.0.7", "127.0.0.1", "", BlockState::kNone, -1};
  };
  // A MAC of digits only, one with a blank and a control character inside, one in
  // Cyrillic (code-page bytes, given back in UTF-8), and two that print alike.
  engine.rows = {row("001122334455", "ann"),
                 row("\x01"
                     "A B",
                     "bob"),
                 row("\xC0\xC1", "cyr"), row("\x02", "dup1"), row("\\x02", "dup2")};
  const ControlAnswer users = Execute(engine, "/users");
  ASSERT_EQ(users.lines.size(), 6u);
  EXPECT_EQ(users.lines[2].text.rfind("\\x01A B", 0), 0u) << users.lines[2].text;
  EXPECT_EQ(users.lines[3].text.rfind("\u0410\u0411", 0), 0u) << users.lines[3].text;

  EXPECT_EQ(Execute(engine, "/kick 001122334455").status, kControlOk);
  EXPECT_EQ(Execute(engine, "/afs \\x01A B 20").status, kControlOk);
  EXPECT_EQ(Execute(engine, "/block name \u0410\u0411").status, kControlOk);
  EXPECT_EQ(engine.userCommands, (std::vector<std::string>{"kick 001122334455",
                                                           "afs \x01"
                                                           "A B 20",
                                                           "block \xC0\xC1"}));

  // A row number is refused as a usage error that asks for the MAC; a MAC nobody online
  // has, and one that could be either of two users, are refused. Nothing is done.
  engine.userCommands.clear();
  const ControlAnswer byRow = Execute(engine, "/kick 1");
  EXPECT_EQ(byRow.status, kControlUsage);
  ASSERT_EQ(byRow.lines.size(), 1u);
  EXPECT_FALSE(byRow.lines[0].toStdout);
  EXPECT_NE(byRow.lines[0].text.find("takes the MAC that 'orvchatctl users' prints, not a row "
                                     "number"),
            std::string::npos)
      << byRow.lines[0].text;
  EXPECT_EQ(Execute(engine, "/unblock 0").status, kControlUsage);
  const ControlAnswer gone = Execute(engine, "/block mac BB02");
  EXPECT_EQ(gone.status, kControlRefused);
  EXPECT_EQ(Texts(gone), std::vector<std::string>{"No user with MAC 'BB02' is online (see "
                                                  "orvchatctl users); nothing was done."});
  const ControlAnswer twice = Execute(engine, "/kick \\x02");
  EXPECT_EQ(twice.status, kControlRefused);
  EXPECT_NE(Texts(twice)[0].find("More than one user"), std::string::npos);
  EXPECT_TRUE(engine.userCommands.empty());
}

// Scripts read the --json forms: they parse, and hold what the listings print, the texts as
// UTF-8 with every control character a JSON escape (nothing for orvchatctl to mangle).
TEST(ControlRequest, JsonFormsParseAndHoldWhatTheListingsPrint) {
  FakeCommands engine;
  engine.rows = {
      {"00AABBCCDDEE", "ann", "10.0.0.7", "127.0.0.1", "NAME", BlockState::kName, 20},
      {"\x01"
       "B\x7F",
       "\xC1\xEE\xF0\xE8\xF1\x1B[2J", "", "127.0.0.2", "", BlockState::kNone, -1},
  };
  const ControlAnswer table = Execute(engine, "/users");
  const ControlAnswer answer = Execute(engine, "/users --json");
  ASSERT_EQ(answer.status, kControlOk);
  ASSERT_EQ(answer.lines.size(), 1u);
  const std::string& line = answer.lines[0].text;
  EXPECT_EQ(ShownText(line), line);  // orvchatctl prints it as it is
  EXPECT_NE(line.find("\"mac\":\"\\u0001B\\u007f\""), std::string::npos) << line;
  const auto users = nlohmann::json::parse(line).at("users");
  ASSERT_EQ(users.size(), engine.rows.size());
  ASSERT_EQ(table.lines.size(), engine.rows.size() + 1);
  for (std::size_t i = 0; i < users.size(); ++i) {
    const auto& user = users[i];
    const UserRow& row = engine.rows[i];
    EXPECT_EQ(user.at("mac").get<std::string>(), Cp1251ToUtf8(row.mac));
    EXPECT_EQ(user.at("name").get<std::string>(), Cp1251ToUtf8(row.name));
    EXPECT_EQ(user.at("ip").get<std::string>(), row.reportedIp);
    EXPECT_EQ(user.at("address").get<std::string>(), row.peerAddress);
    EXPECT_EQ(user.at("block").get<std::string>(), row.blockText);
    // The table shows the same user in the same row: its MAC and name, escaped.
    const std::string& shown = table.lines[i + 1].text;
    EXPECT_EQ(shown.rfind(TerminalText(EscapeControlCharacters(row.mac)), 0), 0u) << shown;
    EXPECT_NE(shown.find(TerminalText(EscapeControlCharacters(row.name))), std::string::npos)
        << shown;
  }
  EXPECT_EQ(users[0].at("afs"), 20);
  EXPECT_TRUE(users[1].at("afs").is_null());
  EXPECT_EQ(users[1].at("name").get<std::string>(),
            "\xD0\x91\xD0\xBE\xD1\x80\xD0\xB8\xD1\x81\x1B[2J");
  engine.rows.clear();
  EXPECT_EQ(Texts(Execute(engine, "/users --json")), std::vector<std::string>{"{\"users\":[]}"});

  engine.status = {"1.3.1.0 beta",
                   "",
                   9010,
                   false,
                   "Address already in use",
                   2,
                   1000,
                   61'000,
                   {"192.168.0.5", "10.0.0.1"},
                   3};
  const auto status = nlohmann::json::parse(Texts(Execute(engine, "/status --json")).at(0));
  const char* const expectedStatus =
      R"({"version":"1.3.1.0 beta","address":"","port":9010,"listening":false,)"
      R"("notListeningReason":"Address already in use",)"
      R"("clientAddresses":["192.168.0.5","10.0.0.1"],"users":2,"connections":3,)"
      R"("uptimeSeconds":60})";
  EXPECT_EQ(status, nlohmann::json::parse(expectedStatus));

  engine.blocks = {{"10.0.0.9", StoredBlockKind::kAddress, {"ann (10.0.0.9)"}},
                   {"\xC1\x01", StoredBlockKind::kName, {}}};
  const std::string blocks = Texts(Execute(engine, "/blocks --json")).at(0);
  const char* const expectedBlocks =
      "{\"blocks\":[{\"key\":\"10.0.0.9\",\"looksLike\":\"address\","
      "\"refusing\":[\"ann (10.0.0.9)\"]},"
      "{\"key\":\"\u0411\\u0001\",\"looksLike\":\"name\",\"refusing\":[]}]}";
  EXPECT_EQ(blocks, expectedBlocks);
  EXPECT_EQ(Texts(Execute(engine, "/blocks")),
            (std::vector<std::string>{"10.0.0.9  (address)  refuses: ann (10.0.0.9)",
                                      "\u0411\\x01  (name)"}));
}

// A stored block is lifted by its key as "blocks" prints it, whoever it blocks and whether
// they are online; the flag only says what the key is.
TEST(ControlRequest, AStoredBlockIsLiftedByTheKeyBlocksPrints) {
  FakeCommands engine;
  engine.blocks = {{"10.0.0.9", StoredBlockKind::kAddress, {}},
                   {"00AABBCCDDEE", StoredBlockKind::kMac, {}},
                   {"\x01"
                    "bob",
                    StoredBlockKind::kName,
                    {}},
                   {"\xC0\xED\xED\xE0 \xCB\xE8", StoredBlockKind::kName, {}},
                   {"\x02", StoredBlockKind::kName, {}},
                   {"\\x02", StoredBlockKind::kName, {}}};
  const ControlAnswer lifted = Execute(engine, "/unblock --name \\x01bob");
  EXPECT_EQ(lifted.status, kControlOk);
  EXPECT_EQ(Texts(lifted), std::vector<std::string>{"Block list entry lifted: ?bob"});
  EXPECT_EQ(Execute(engine, "/unblock --ip 10.0.0.9").status, kControlOk);
  // A name with a blank, in Cyrillic, given in UTF-8; a MAC given with --ip.
  EXPECT_EQ(Execute(engine, "/unblock --name \u0410\u043D\u043D\u0430 \u041B\u0438").status,
            kControlOk);
  EXPECT_EQ(Execute(engine, "/unblock --ip 00AABBCCDDEE").status, kControlOk);
  EXPECT_EQ(engine.userCommands, (std::vector<std::string>{"unblock-entry \x01"
                                                           "bob",
                                                           "unblock-entry 10.0.0.9",
                                                           "unblock-entry \xC0\xED\xED\xE0 "
                                                           "\xCB\xE8",
                                                           "unblock-entry 00AABBCCDDEE"}));
  // Nothing stored under the key: the engine's refusal. Two keys that print alike: nothing.
  const ControlAnswer none = Execute(engine, "/unblock --mac 00AABBCCDDEE");
  EXPECT_EQ(none.status, kControlRefused);
  EXPECT_EQ(Texts(none),
            std::vector<std::string>{"The block list holds no block for 00AABBCCDDEE."});
  const ControlAnswer twice = Execute(engine, "/unblock --name \\x02");
  EXPECT_EQ(twice.status, kControlRefused);
  EXPECT_NE(Texts(twice)[0].find("More than one stored block"), std::string::npos);
  EXPECT_EQ(engine.blocks.size(), 2u);
  // "unblock MAC" stays a command for a user online.
  EXPECT_EQ(Execute(engine, "/unblock 00AABBCCDDEE").status, kControlRefused);
  EXPECT_EQ(engine.userCommands.size(), 4u);
}

TEST(ControlSocket, AnswersOverTheSocketAndTellsWhenNoServerRuns) {
  TempFolder dir;
  const auto path = dir / "ctl.sock";
  FakeCommands engine;
  engine.status.version = "9.9";

  // Nothing there yet.
  ControlReply none = AskServer(path, "/status", 2s);
  EXPECT_EQ(none.status, kControlNoServer);
  EXPECT_EQ(none.why, "no server is running there: " + path.string() + " does not exist");

  std::atomic<int> stops{0};
  {
    ControlServer server(engine, [&stops] { ++stops; });
    std::string error;
    ASSERT_TRUE(server.Start(path, &error)) << error;
    using std::filesystem::perms;
    EXPECT_EQ(std::filesystem::status(path).permissions() & perms::all,
              perms::owner_read | perms::owner_write | perms::group_read | perms::group_write);

    const ControlReply status = AskServer(path, "/status", 5s);
    ASSERT_EQ(status.status, kControlOk) << status.why;
    EXPECT_EQ(status.answer.status, kControlOk);
    ASSERT_FALSE(status.answer.lines.empty());
    EXPECT_EQ(status.answer.lines[0].text, "version: 9.9");

    // A second server does not take over a socket that answers.
    ControlServer second(engine, nullptr);
    EXPECT_FALSE(second.Start(path, &error));
    EXPECT_EQ(error, "another server answers on the control socket " + path.string() +
                         "; give this one another path with --control");

    const ControlReply stop = AskServer(path, "/stop", 5s);
    EXPECT_EQ(stop.status, kControlOk);
    for (int i = 0; i < 100 && stops == 0; ++i)
      std::this_thread::sleep_for(10ms);
    EXPECT_EQ(stops, 1);
    server.Stop();
    EXPECT_FALSE(std::filesystem::exists(path));
  }

  // A socket file left behind answers nobody, and is replaced by the next server.
  {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    ASSERT_TRUE(std::filesystem::is_socket(path));
    const ControlReply stale = AskServer(path, "/status", 2s);
    EXPECT_EQ(stale.status, kControlNoServer);
    EXPECT_EQ(stale.why, "no server is running there: nothing answers on " + path.string());
    ControlServer server(engine, nullptr);
    std::string error;
    ASSERT_TRUE(server.Start(path, &error)) << error;
    EXPECT_EQ(AskServer(path, "/users", 5s).status, kControlOk);
  }
  // Something else in the way is left alone.
  testing::WriteFile(path, "not a socket");
  ControlServer blocked(engine, nullptr);
  std::string error;
  EXPECT_FALSE(blocked.Start(path, &error));
  EXPECT_NE(error.find("is not a socket"), std::string::npos) << error;
  EXPECT_EQ(AskServer(path, "/status", 2s).status, kControlNoServer);
}

// One end of a control connection, for the stream's tests: sends a line, reads lines.
class RawPeer {
 public:
  explicit RawPeer(const std::filesystem::path& path) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawPeer() { Close(); }
  RawPeer(const RawPeer&) = delete;
  RawPeer& operator=(const RawPeer&) = delete;

  bool Send(const std::string& line) {
    const std::string text = line + "\n";
    return connected_ && ::write(fd_, text.data(), text.size()) == ssize_t(text.size());
  }
  // The next line within limit; nothing when none came (or the connection ended).
  std::optional<std::string> Line(std::chrono::milliseconds limit = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      if (const auto end = received_.find('\n'); end != std::string::npos) {
        std::string line = received_.substr(0, end);
        received_.erase(0, end + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd ready{fd_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) != 1)
        return std::nullopt;
      char buffer[65536];
      const ssize_t count = ::read(fd_, buffer, sizeof buffer);
      if (count <= 0) return std::nullopt;
      received_.append(buffer, static_cast<std::size_t>(count));
    }
  }
  // Lines until one that begins with prefix (that one included).
  std::vector<std::string> LinesUntil(const std::string& prefix,
                                      std::chrono::milliseconds limit = 5s) {
    std::vector<std::string> lines;
    while (auto line = Line(limit)) {
      lines.push_back(*line);
      if (line->rfind(prefix, 0) == 0) break;
    }
    return lines;
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
  std::string received_;
};

// Waits (bounded) until condition holds.
template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds limit = 5s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

constexpr const char* kGreeting = "err following the server's console lines and users";

// A follower gets each console line and user event as it happens, escaped, in the form it
// asked for, until it goes away or the server stops; other requests are answered meanwhile.
TEST(ControlSocket, AFollowerGetsEachEventAsItHappensUntilItOrTheServerEnds) {
  TempFolder dir;
  const auto path = dir / "ctl.sock";
  FakeCommands engine;
  ControlServer server(engine, nullptr);
  std::string error;
  ASSERT_TRUE(server.Start(path, &error)) << error;

  RawPeer follower(path);
  RawPeer json(path);
  ASSERT_TRUE(follower.Send("/follow"));
  ASSERT_TRUE(json.Send("/follow --json"));
  // The greeting comes once the engine has the follower: nothing after it is missed.
  EXPECT_EQ(follower.Line().value_or("").rfind(kGreeting, 0), 0u);
  EXPECT_EQ(json.Line().value_or("").rfind(kGreeting, 0), 0u);
  ASSERT_EQ(engine.Subscribers(), 2u);

  engine.Publish(event::ConsoleLine{"[12:00:00] Connection from 127.0.0.1\x1B[2J\r\nsecond"});
  const UserRow ann{"AA\x01", "\xC0nn", "10.0.0.7", "127.0.0.1", "", BlockState::kNone, -1};
  engine.Publish(event::UserJoined{ann});
  UserRow blocked = ann;
  blocked.blockText = "NAME";
  blocked.afs = 20;
  engine.Publish(event::UserChanged{blocked});
  engine.Publish(event::Status{});  // not followed
  engine.Publish(event::UserLeft{ann});
  EXPECT_EQ(follower.Line(), "out [12:00:00] Connection from 127.0.0.1?[2J");
  EXPECT_EQ(follower.Line(), "out second");
  EXPECT_EQ(follower.Line(),
            "out joined: MAC AA\\x01, name \u0410nn, IP 10.0.0.7, address 127.0.0.1");
  EXPECT_EQ(follower.Line(),
            "out changed: MAC AA\\x01, name \u0410nn, IP 10.0.0.7, address "
            "127.0.0.1, blocked by NAME, AFS 20");
  EXPECT_EQ(follower.Line(),
            "out left: MAC AA\\x01, name \u0410nn, IP 10.0.0.7, address 127.0.0.1");
  const auto console = nlohmann::json::parse(json.Line().value_or("out ?").substr(4));
  EXPECT_EQ(console.at("event"), "console");
  EXPECT_EQ(console.at("text"), "[12:00:00] Connection from 127.0.0.1\x1B[2J\r\nsecond");
  for (const char* kind : {"joined", "changed", "left"}) {
    const auto user = nlohmann::json::parse(json.Line().value_or("out ?").substr(4));
    EXPECT_EQ(user.at("event"), kind);
    EXPECT_EQ(user.at("user").at("mac"), "AA\x01");
  }
  // Others are answered meanwhile.
  EXPECT_EQ(AskServer(path, "/users", 5s).status, kControlOk);

  // One that goes away is let go of: the engine drops it at its next event.
  json.Close();
  EXPECT_TRUE(Eventually([&engine] {
    engine.Publish(event::ConsoleLine{"tick"});
    return engine.Subscribers() == 1;
  }));

  // The server stops: the follower gets what waited, and the stream's end.
  while (follower.Line(100ms)) {
  }
  engine.Publish(event::ConsoleLine{"last"});
  const auto before = std::chrono::steady_clock::now();
  server.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
  EXPECT_EQ(follower.LinesUntil("end "),
            (std::vector<std::string>{
                "out last", "err the server is stopping; nothing more follows", "end 0"}));
  EXPECT_FALSE(follower.Line(100ms));
}

// The engine never waits for a follower: one that stops reading is dropped once its events
// pile up, and hears so when it reads again; one that reads gets every event.
TEST(ControlSocket, AFollowerThatFallsBehindIsDroppedWithoutSlowingTheServer) {
  TempFolder dir;
  const auto path = dir / "ctl.sock";
  FakeCommands engine;
  ControlServer server(engine, nullptr);
  std::string error;
  ASSERT_TRUE(server.Start(path, &error)) << error;

  RawPeer stalled(path);
  ASSERT_TRUE(stalled.Send("/follow"));
  ASSERT_EQ(stalled.Line().value_or("").rfind(kGreeting, 0), 0u);
  std::vector<std::string> followed;
  std::mutex followedMutex;
  ControlReply reading;
  std::thread reader([&] {
    reading = FollowServer(path, "/follow", [&](const ControlAnswer::Line& line) {
      std::lock_guard lock(followedMutex);
      followed.push_back(line.text);
    });
  });
  ASSERT_TRUE(Eventually([&] { return engine.Subscribers() == 2; }));
  ASSERT_TRUE(Eventually([&] {
    std::lock_guard lock(followedMutex);
    return !followed.empty();  // the greeting
  }));

  // Lines of 1 KiB, far more than the socket and the follower's queue hold, at a pace the
  // channel keeps up with (a follower that stops reading must fall behind by itself, not
  // because the channel lagged); the reading follower gets the first 500.
  const std::string filler(1024, 'x');
  auto slowest = std::chrono::nanoseconds(0);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 20000; ++i) {
    if (i == 500) {
      ASSERT_TRUE(Eventually([&] {
        std::lock_guard lock(followedMutex);
        return followed.size() == 501;
      }));
    }
    if (i % 100 == 0) std::this_thread::sleep_for(2ms);
    const auto before = std::chrono::steady_clock::now();
    engine.Publish(event::ConsoleLine{std::to_string(i) + " " + filler});
    slowest = std::max(slowest, std::chrono::steady_clock::now() - before);
  }
  // A follower the engine waited for would have held a publication until its stall limit.
  EXPECT_LT(slowest, 1s);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
  {
    std::lock_guard lock(followedMutex);
    for (int i = 0; i < 500; ++i)
      ASSERT_EQ(followed[static_cast<std::size_t>(i) + 1], std::to_string(i) + " " + filler);
  }
  // The stalled one is let go of (the reading one may have fallen behind in the burst too),
  // and the server answers others meanwhile.
  engine.Publish(event::ConsoleLine{"after"});
  EXPECT_LE(engine.Subscribers(), 1u);
  EXPECT_EQ(AskServer(path, "/status", 5s).status, kControlOk);

  // Reading again, it gets what had gone out before it stalled, then why it was dropped.
  const std::vector<std::string> rest = stalled.LinesUntil("end ");
  ASSERT_GE(rest.size(), 2u);
  EXPECT_LT(rest.size(), 20000u);
  EXPECT_EQ(rest[rest.size() - 2].rfind("err fell behind: more than 4096 events waited", 0), 0u)
      << rest[rest.size() - 2];
  EXPECT_EQ(rest.back(), "end 1");
  server.Stop();
  reader.join();
  EXPECT_EQ(reading.status, kControlOk) << reading.why;
  EXPECT_TRUE(reading.answer.status == kControlOk || reading.answer.status == kControlRefused);
}

// A user nobody logs in as, to hand files to.
constexpr uid_t kOtherUser = 65534;

// Hands the file at path (not followed) to kOtherUser: only root can, and it must be another
// user than the test's own.
bool GiveAway(const std::filesystem::path& path) {
  return ::geteuid() != kOtherUser && ::lchown(path.c_str(), kOtherUser, kOtherUser) == 0;
}

// Another local user must not be able to put a socket of their own where the server's is.
TEST(ControlSocket, OpensOnlyWhereNoOtherUserCanPutASocketInItsPlace) {
  namespace fs = std::filesystem;
  TempFolder dir;
  FakeCommands engine;
  const fs::path shared = dir / "shared";
  fs::create_directories(shared / "inner");
  fs::permissions(shared, fs::perms::all, fs::perm_options::replace);
  auto refusal = [&engine](const fs::path& path) {
    const bool there = fs::exists(fs::symlink_status(path));
    ControlServer server(engine, nullptr);
    std::string error;
    EXPECT_FALSE(server.Start(path, &error)) << path;
    EXPECT_EQ(fs::exists(fs::symlink_status(path)), there) << path;
    return error;
  };
  // Everyone may write: the socket could be removed and replaced; so could a folder inside.
  const std::string here = fs::canonical(shared).string();
  EXPECT_EQ(refusal(shared / "ctl.sock"),
            "no control socket at " + (shared / "ctl.sock").string() +
                ": every user may write to the folder " + here +
                " (mode 0777), so another user could put a socket of their own in place of the "
                "server's and take the operator's commands; give the server a folder that only "
                "root and its own user may write to (-C DIR or --control PATH), or chmod o-w " +
                here);
  EXPECT_NE(
      refusal(shared / "inner" / "ctl.sock").find("every user may write to the folder " + here),
      std::string::npos);
  EXPECT_NE(refusal(dir / "missing" / "ctl.sock").find("its folder cannot be used"),
            std::string::npos);

  // With the sticky bit nobody removes or renames what is not theirs: the server's own
  // socket is safe there, and a stale one of its own is replaced as anywhere.
  fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit, fs::perm_options::replace);
  EXPECT_TRUE(CheckControlSocketFolder(shared / "ctl.sock").shared);
  EXPECT_FALSE(CheckControlSocketFolder(shared / "inner" / "ctl.sock").shared);
  for (int round = 0; round < 2; ++round) {
    ControlServer server(engine, nullptr);
    std::string error;
    ASSERT_TRUE(server.Start(shared / "ctl.sock", &error)) << error;
    EXPECT_TRUE(IsOwnSocket(shared / "ctl.sock"));
    EXPECT_EQ(AskServer(shared / "ctl.sock", "/users", 5s).status, kControlOk);
    if (round == 0) {
      // As a server that was killed leaves it.
      const fs::path kept = dir / "kept.sock";
      fs::rename(shared / "ctl.sock", kept);
      server.Stop();
      fs::rename(kept, shared / "ctl.sock");
    }
  }

  // What only root can set up: files and folders of another user.
  testing::WriteFile(shared / "theirs.sock", "another user's file");
  if (!GiveAway(shared / "theirs.sock"))
    GTEST_SKIP() << "only root can make a file of another user";
  // In the sticky folder another user's file is neither replaced nor used.
  const std::string theirs = refusal(shared / "theirs.sock");
  EXPECT_NE(theirs.find(" belongs to user "), std::string::npos) << theirs;
  EXPECT_NE(theirs.find("(uid 65534), not to this server"), std::string::npos) << theirs;
  EXPECT_EQ(testing::ReadFile(shared / "theirs.sock"), "another user's file");
  // A folder another user owns is theirs to change; one their group may write to, too.
  fs::permissions(shared / "inner", fs::perms(0755), fs::perm_options::replace);
  ASSERT_EQ(::chown((shared / "inner").c_str(), kOtherUser, 0), 0);
  EXPECT_NE(
      refusal(shared / "inner" / "ctl.sock").find("the folder " + here + "/inner belongs to user "),
      std::string::npos);
  ASSERT_EQ(::chown((shared / "inner").c_str(), 0, kOtherUser), 0);
  EXPECT_TRUE(CheckControlSocketFolder(shared / "inner" / "ctl.sock").problem.empty());
  fs::permissions(shared / "inner", fs::perms(0775), fs::perm_options::replace);
  EXPECT_NE(refusal(shared / "inner" / "ctl.sock").find("the members of group "),
            std::string::npos);
}

TEST(ControlClient, ShowsWhatItReceivesWithoutAnythingThatSteersTheTerminal) {
  // C0 controls and DEL as the console shows them.
  EXPECT_EQ(ShownText("stop\x1B]0;title\x07\x1B[2J\r\n\t\x7F" + std::string(1, '\0')),
            "stop\\x1B]0;title\\x07\\x1B[2J\\r\\n\\t\\x7F\\x00");
  // C1 controls: as UTF-8 (U+009B, a CSI to many terminals) and as bare bytes.
  EXPECT_EQ(ShownText("\xC2\x9B"
                      "31m\xC2\x80\xC2\x9F"),
            "\\u009B31m\\u0080\\u009F");
  EXPECT_EQ(ShownText("\x9B"
                      "31m\x85"),
            "\\x9B31m\\x85");
  // Text stays as it is: Cyrillic, the first printable after the C1 range, three and four
  // bytes, backslashes.
  const std::string text = "\xD0\x96\xD0\xB4 \xC2\xA0\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 a\\x1B";
  EXPECT_EQ(ShownText(text), text);
  // Bytes that are no UTF-8: an overlong ESC, a surrogate, beyond U+10FFFF, cut short, a
  // stray continuation byte.
  EXPECT_EQ(ShownText("\xC0\x9B"), "\\xC0\\x9B");
  EXPECT_EQ(ShownText("\xE0\x80\x9B"), "\\xE0\\x80\\x9B");
  EXPECT_EQ(ShownText("\xED\xA0\x80"), "\\xED\\xA0\\x80");
  EXPECT_EQ(ShownText("\xF4\x90\x80\x80"), "\\xF4\\x90\\x80\\x80");
  EXPECT_EQ(ShownText("ab\xE2\x82"), "ab\\xE2\\x82");
  EXPECT_EQ(ShownText("\xD0\x1B[31m"), "\\xD0\\x1B[31m");
  EXPECT_EQ(ShownText("\xBF"), "\\xBF");
}

// A listening socket at path made by the test process; what connected to it is left in its
// backlog.
struct Listener {
  explicit Listener(const std::filesystem::path& path, bool listenNow = true) {
    fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (listenNow) bound = bound && ::listen(fd, 4) == 0;
  }
  ~Listener() { ::close(fd); }
  bool Knocked() const {
    pollfd ready{fd, POLLIN, 0};
    return ::poll(&ready, 1, 0) == 1;
  }
  int fd = -1;
  bool bound = false;
};

// orvchatctl talks only to a socket of root, of its own user or of the service's user, and
// only when the program answering runs as one of them.
TEST(ControlClient, TalksOnlyToASocketOfRootItsOwnUserOrTheService) {
  namespace fs = std::filesystem;
  TempFolder dir;
  const fs::path path = dir / "ctl.sock";
  EXPECT_EQ(UntrustedControlSocket(path, ""), "");  // nothing there: connecting says so
  Listener own(path);
  ASSERT_TRUE(own.bound);
  EXPECT_EQ(UntrustedControlSocket(path, ""), "");
  // A link to a socket: whoever made it chose where it leads.
  fs::create_symlink(path, dir / "link.sock");
  const ControlReply linked = AskServer(dir / "link.sock", "/stop", 2s);
  EXPECT_EQ(linked.status, kControlNoServer);
  EXPECT_FALSE(linked.nobodyThere);
  EXPECT_EQ(linked.why.rfind((dir / "link.sock").string() + " is a symbolic link", 0), 0u)
      << linked.why;
  EXPECT_FALSE(own.Knocked());

  if (!GiveAway(path)) GTEST_SKIP() << "only root can make a file of another user";
  const ControlReply foreign = AskServer(path, "/stop", 2s);
  EXPECT_EQ(foreign.status, kControlNoServer);
  EXPECT_FALSE(foreign.nobodyThere);
  EXPECT_EQ(foreign.why.rfind(path.string() + " belongs to user ", 0), 0u) << foreign.why;
  EXPECT_NE(foreign.why.find("(uid 65534), not to root"), std::string::npos) << foreign.why;
  EXPECT_NE(foreign.why.find("another user's stand-in for the server"), std::string::npos);
  EXPECT_FALSE(own.Knocked());
  // The same socket is the service's when the service runs as that user.
  const passwd* other = ::getpwuid(kOtherUser);
  const std::string otherName = other != nullptr ? other->pw_name : "";
  if (!otherName.empty()) {
    EXPECT_EQ(UntrustedControlSocket(path, otherName), "");
  }

  // A socket file of root's, but the program that listens on it runs as another user (as when
  // the file is swapped after the check): who answers counts.
  const fs::path swapped = dir / "swapped.sock";
  Listener impostor(swapped, false);
  ASSERT_TRUE(impostor.bound);
  const uid_t self = ::geteuid();
  ASSERT_EQ(::seteuid(kOtherUser), 0);
  const bool listening = ::listen(impostor.fd, 4) == 0;
  ASSERT_EQ(::seteuid(self), 0);
  ASSERT_TRUE(listening);
  EXPECT_EQ(UntrustedControlSocket(swapped, ""), "");
  const ControlReply answered = AskServer(swapped, "/stop", 2s);
  EXPECT_EQ(answered.status, kControlNoServer);
  EXPECT_EQ(
      answered.why.rfind("the program that answers on " + swapped.string() + " runs as user ", 0),
      0u)
      << answered.why;
  EXPECT_NE(answered.why.find("(uid 65534), not as root"), std::string::npos) << answered.why;
  if (!otherName.empty()) {
    // Trusted, it is asked: it takes the request and never answers.
    EXPECT_EQ(AskServer(swapped, "/status", 200ms, otherName).status, kControlNoAnswer);
  }
}

}  // namespace
}  // namespace orv
