// The control channel: request lines for orvchatctl's words, the answer's wire form, the
// commands carried out through the engine's commands, and the socket itself.
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
#include <thread>

#include "app/control_client.h"
#include "app/control_protocol.h"
#include "app/control_server.h"
#include "app/control_trust.h"
#include "fake_commands.h"
#include "support/temp_folder.h"

namespace orv {
namespace {

using testing::FakeCommands;
using testing::TempFolder;
using namespace std::chrono_literals;

TEST(ControlRequest, WordsBecomeHeadlessConsoleLines) {
  std::string error;
  auto request = [&error](const std::string& word, std::vector<std::string> args = {}) {
    return ControlRequestFor(word, args, &error).value_or("<none>");
  };
  EXPECT_EQ(request("status"), "/status");
  EXPECT_EQ(request("users"), "/users");
  EXPECT_EQ(request("kick", {"AA01"}), "/kick AA01");
  EXPECT_EQ(request("block", {"mac", "AA01"}), "/block mac AA01");
  EXPECT_EQ(request("unblock", {"AA01"}), "/unblock AA01");
  EXPECT_EQ(request("afs", {"AA 01", "20"}), "/afs AA 01 20");
  EXPECT_EQ(request("refresh"), "/refresh");
  EXPECT_EQ(request("reload"), "/reload");
  EXPECT_EQ(request("stop"), "/exit");
  // Texts: words joined, one line, a leading slash kept as a slash.
  EXPECT_EQ(request("send", {"hello", "all"}), "hello all");
  EXPECT_EQ(request("send", {"/me", "waves"}), "//me waves");
  EXPECT_EQ(request("send", {"two\nlines"}), "two lines");
  EXPECT_EQ(request("exit"), "<none>");
  EXPECT_EQ(error, "unknown command 'exit'");
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
  EXPECT_EQ(Execute(engine, "hello all").status, kControlOk);
  EXPECT_EQ(engine.sent.back(), "hello all");
  const ControlAnswer tooShort = Execute(engine, "x");
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
  const ControlAnswer stop = Execute(engine, "/exit", &stopped);
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

    const ControlReply stop = AskServer(path, "/exit", 5s);
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
  const ControlReply linked = AskServer(dir / "link.sock", "/exit", 2s);
  EXPECT_EQ(linked.status, kControlNoServer);
  EXPECT_FALSE(linked.nobodyThere);
  EXPECT_EQ(linked.why.rfind((dir / "link.sock").string() + " is a symbolic link", 0), 0u)
      << linked.why;
  EXPECT_FALSE(own.Knocked());

  if (!GiveAway(path)) GTEST_SKIP() << "only root can make a file of another user";
  const ControlReply foreign = AskServer(path, "/exit", 2s);
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
  const ControlReply answered = AskServer(swapped, "/exit", 2s);
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
