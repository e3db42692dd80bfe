// The server as a service: settings checked before the start, --check-config, SIGHUP,
// a failed listen, a display that is not there, the Russian texts, and orvchatctl against the
// real binary (its commands, --json, follow, stored blocks), and against a stand-in on its
// socket.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>

#include "e2e_support.h"

namespace orv::e2e {
namespace {

struct Outcome {
  std::optional<int> status;
  std::string out;  // stdout and stderr together
};

// Runs the server binary to its end.
Outcome RunServer(const std::vector<std::string>& args) {
  ServerProcess process(args);
  auto status = process.WaitExit(milliseconds(15000));
  process.CloseStdin();
  return {status, process.Transcript()};
}

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

// orvchatctl with args, bounded in time, in the folder cwd when given; its exit status and
// output.
Outcome Ctl(const std::vector<std::string>& args, const std::string& cwd = {}) {
  std::string command =
      (cwd.empty() ? std::string() : "cd " + Quote(cwd) + " && ") + "timeout 30 " + ORV_CTL_BINARY;
  for (const auto& arg : args)
    command += " " + Quote(arg);
  Outcome run;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
    run.out += buffer;
  const int status = ::pclose(pipe);
  if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
  return run;
}

// A stand-in for the server on a control socket, made by the test process (so it belongs to
// the test's user): it may answer one request with a text of the test's choosing.
class StandIn {
 public:
  explicit StandIn(const fs::path& path) : path_(path) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    listening_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                 ::listen(fd_, 4) == 0;
  }
  ~StandIn() {
    stop_ = true;
    if (answerer_.joinable()) answerer_.join();
    ::close(fd_);
  }
  StandIn(const StandIn&) = delete;
  StandIn& operator=(const StandIn&) = delete;

  bool Listening() const { return listening_; }

  // Answers the first connection (within 15 s) with reply, after its request line.
  void Answer(std::string reply) {
    answerer_ = std::thread([this, reply = std::move(reply)] {
      for (int i = 0; i < 300 && !stop_; ++i) {
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, 50) != 1) continue;
        const int peer = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (peer < 0) return;
        std::string request;
        char buffer[512];
        while (request.find('\n') == std::string::npos) {
          pollfd readable{peer, POLLIN, 0};
          if (::poll(&readable, 1, 5000) != 1) break;
          const ssize_t count = ::read(peer, buffer, sizeof buffer);
          if (count <= 0) break;
          request.append(buffer, static_cast<std::size_t>(count));
        }
        {
          std::lock_guard lock(mutex_);
          request_ = request;
        }
        const ssize_t written = ::write(peer, reply.data(), reply.size());
        (void)written;
        ::close(peer);
        return;
      }
    });
  }

  // Whether somebody connected and has not been answered (without Answer: whether anybody
  // connected at all).
  bool Knocked() const {
    pollfd ready{fd_, POLLIN, 0};
    return ::poll(&ready, 1, 0) == 1;
  }
  std::string Request() {
    if (answerer_.joinable()) answerer_.join();
    std::lock_guard lock(mutex_);
    return request_;
  }

 private:
  fs::path path_;
  int fd_ = -1;
  bool listening_ = false;
  std::atomic<bool> stop_{false};
  std::thread answerer_;
  std::mutex mutex_;
  std::string request_;
};

// A folder of the test's own under the temporary folder with the given mode (sticky bit and
// all), removed at the end.
class SharedFolder {
 public:
  explicit SharedFolder(fs::perms mode) {
    dir_ = fs::temp_directory_path() /
           ("orv-e2e-shared-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    fs::create_directories(dir_);
    fs::permissions(dir_, mode, fs::perm_options::replace);
  }
  ~SharedFolder() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  SharedFolder(const SharedFolder&) = delete;
  SharedFolder& operator=(const SharedFolder&) = delete;
  const fs::path& Dir() const { return dir_; }

 private:
  static inline std::atomic<int> counter_{0};
  fs::path dir_;
};

// The uid of the user the test hands files to: a user nobody logs in as.
constexpr uid_t kOtherUser = 65534;

// Hands the file at path (not followed) to kOtherUser: only root can, and it must be another
// user than the test's own.
bool GiveAway(const fs::path& path) {
  return ::geteuid() != kOtherUser && ::lchown(path.c_str(), kOtherUser, kOtherUser) == 0;
}

// orvchatctl with args as a process of its own (follow runs until it is ended), its stdout and
// stderr read line by line as they come.
class CtlProcess {
 public:
  explicit CtlProcess(const std::vector<std::string>& args) {
    std::string binary = ORV_CTL_BINARY;
    std::vector<std::string> copies = args;
    std::vector<char*> argv{binary.data()};
    for (auto& arg : copies)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(output[1], STDOUT_FILENO);
      ::dup2(output[1], STDERR_FILENO);
      ::execv(binary.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(output[1]);
    output_ = output[0];
    reader_ = std::thread([this] {
      std::string pending;
      char buffer[4096];
      for (ssize_t count; (count = ::read(output_, buffer, sizeof buffer)) > 0;) {
        pending.append(buffer, static_cast<std::size_t>(count));
        std::lock_guard lock(mutex_);
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
          lines_.push_back({pending.substr(0, end), Clock::now()});
          pending.erase(0, end + 1);
        }
        changed_.notify_all();
      }
    });
  }
  ~CtlProcess() {
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      WaitExit(milliseconds(5000));
    }
    if (reader_.joinable()) reader_.join();
    if (output_ >= 0) ::close(output_);
  }
  CtlProcess(const CtlProcess&) = delete;
  CtlProcess& operator=(const CtlProcess&) = delete;

  struct Line {
    std::string text;
    Clock::time_point arrived;
  };
  // The first line that contains text, once it came within limit.
  std::optional<Line> WaitForLine(const std::string& text,
                                  milliseconds limit = milliseconds(5000)) {
    std::unique_lock lock(mutex_);
    std::optional<Line> found;
    changed_.wait_for(lock, limit, [&] {
      for (std::size_t i = 0; i < lines_.size() && !found; ++i) {
        if (lines_[i].text.find(text) != std::string::npos) found = lines_[i];
      }
      return found.has_value();
    });
    return found;
  }
  std::string Transcript() {
    std::lock_guard lock(mutex_);
    std::string all;
    for (const Line& line : lines_)
      all += line.text + "\n";
    return all;
  }
  void Signal(int number) {
    if (pid_ > 0 && !status_) ::kill(pid_, number);
  }
  // The exit status once it ended within limit (-1 when a signal ended it).
  std::optional<int> WaitExit(milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!status_ && pid_ > 0) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      } else if (Clock::now() >= deadline) {
        break;
      } else {
        std::this_thread::sleep_for(milliseconds(10));
      }
    }
    return status_;
  }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  std::optional<int> status_;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Line> lines_;
};

TEST(ServiceTest, EachBadSettingRefusesTheStartNamingKeyValueAndFile) {
  struct Case {
    std::string key, value;
  };
  // What the server cannot serve with: no port, an address that is none, a path for a
  // language name.
  for (const Case& c : std::vector<Case>{{"ServerPort", "abc"},
                                         {"ServerPort", "70000"},
                                         {"ServerPort", "0"},
                                         {"ServerPort", " "},
                                         {"ServerIP", "192.168.1"},
                                         {"ServerIP", "localhost"},
                                         {"ServerLanguage", "../../etc/x"}}) {
    WorkFolder folder;
    folder.Set(c.key, c.value);
    const Outcome run = RunServer({"--headless", "-C", folder.Dir().string()});
    EXPECT_EQ(run.status, 1) << c.key << run.out;
    EXPECT_NE(run.out.find(c.key + " \"" + c.value + "\" in " + folder.Settings().string()),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("Waiting for connections"), std::string::npos) << run.out;
  }
  // Anything else is read as the server has always read it: a warning, and the server
  // would start (the start itself: StartupTest).
  for (const Case& c : std::vector<Case>{{"ServerPort", "19 404"},
                                         {"DebugLog", "yes"},
                                         {"FloodStopper", "-1"},
                                         {"IdleTimeout", "5m"},
                                         {"MaxPacketSize", "lots"}}) {
    WorkFolder folder;
    folder.Set(c.key, c.value);
    const Outcome run = RunServer({"--check-config", "-C", folder.Dir().string()});
    EXPECT_EQ(run.status, 0) << c.key << run.out;
    EXPECT_NE(
        run.out.find("warning: " + c.key + " \"" + c.value + "\" in " + folder.Settings().string()),
        std::string::npos)
        << run.out;
  }

  // No port at all, an empty file, a file of comments only.
  WorkFolder folder;
  const std::string settings = ReadFile(folder.Settings());
  const auto open = settings.find("<ServerPort>");
  const auto close = settings.find("</ServerPort>");
  ASSERT_NE(close, std::string::npos);
  WriteFile(folder.Settings(), settings.substr(0, open) + settings.substr(close + 14));
  Outcome run = RunServer({"--headless", "-C", folder.Dir().string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("ServerPort is missing in " + folder.Settings().string()),
            std::string::npos)
      << run.out;
  for (const std::string& empty : {std::string(), std::string("only a comment\n")}) {
    WriteFile(folder.Settings(), empty);
    run = RunServer({"--headless", "-C", folder.Dir().string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(
        run.out.find("The settings file " + folder.Settings().string() + " holds no settings"),
        std::string::npos)
        << run.out;
  }
}

TEST(ServiceTest, BlanksAroundTheValuesAndAMissingLanguageFileStillStart) {
  RunningServer server({}, [](WorkFolder& folder) {
    folder.Set("ServerPort", " " + std::to_string(folder.Port()) + " ");
    folder.Set("ServerIP", "127.0.0.1 ");
    folder.Set("ServerLanguage", "german");
  });
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  EXPECT_TRUE(server.process->WaitForLine(
      "The language file language/lang_german.cfg cannot be read; the built-in English texts "
      "are used"));
  Client client(server.Port());
  EXPECT_TRUE(client.WaitForType(6));
}

TEST(ServiceTest, TheRussianTextsShowOnTheConsoleAndGoToTheLogInTheCodePage) {
  WorkFolder folder;
  folder.Set("ServerLanguage", "russian");
  Outcome check = RunServer({"--check-config", "-C", folder.Dir().string()});
  EXPECT_EQ(check.status, 0) << check.out;
  EXPECT_EQ(check.out.find("warning:"), std::string::npos) << check.out;

  ServerProcess process({"--headless", "-C", folder.Dir().string()});
  ASSERT_TRUE(process.WaitForLine("Ожидание подключений...", milliseconds(10000)))
      << process.Transcript();
  EXPECT_TRUE(process.WaitForLine("Имя сервера: OrvServer"));
  {
    Client client(folder.Port());
    EXPECT_TRUE(process.WaitForLine("Принято подключение с 127.0.0.1"));
  }
  EXPECT_TRUE(process.WaitForLine("Подключено пользователей: 0"));
  // "Сервер запущен" in Windows-1251, as every file of the working folder is written.
  std::string log;
  for (const auto& entry : fs::directory_iterator(folder.Dir() / "logs"))
    log += ReadFile(entry.path());
  EXPECT_NE(log.find("\xD1\xE5\xF0\xE2\xE5\xF0 \xE7\xE0\xEF\xF3\xF9\xE5\xED"), std::string::npos)
      << log;
}

TEST(ServiceTest, CheckConfigListsEveryProblemAndEndsWithZeroOrOne) {
  WorkFolder good;
  Outcome run = RunServer({"--check-config", "-C", good.Dir().string()});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find(good.Dir().string() + ": the settings are usable (0 warnings)"),
            std::string::npos)
      << run.out;

  WorkFolder broken;
  broken.Set("ServerPort", "abc");
  broken.Set("ServerIP", "10.0.0");
  broken.Set("ServerLanguage", "german");
  broken.Set("ServerPrt", "9010");
  fs::remove(broken.Dir() / "orvchatserver_command.cfg");
  run = RunServer({"--check-config", "-C", broken.Dir().string()});
  EXPECT_EQ(run.status, 1) << run.out;
  for (const std::string& expected :
       {std::string("warning: Unknown setting ServerPrt"), std::string("error: ServerPort \"abc\""),
        std::string("error: ServerIP \"10.0.0\""),
        std::string("warning: The language file " +
                    (broken.Dir() / "language" / "lang_german.cfg").string()),
        std::string("warning: The command file"),
        std::string(broken.Dir().string() +
                    ": 2 errors, 3 warnings; the server would not start")}) {
    EXPECT_NE(run.out.find(expected), std::string::npos) << expected << "\n" << run.out;
  }
  // Checking starts nothing.
  EXPECT_EQ(run.out.find("Waiting for connections"), std::string::npos);
}

TEST(ServiceTest, SighupReloadsTheSettingsANewClientSees) {
  RunningServer server;
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  {
    Client before(server.Port());
    auto welcome = before.WaitForType(6);
    ASSERT_TRUE(welcome);
    EXPECT_EQ(welcome->name, "OrvServer");
  }
  server.folder.Set("ServerName", "Renamed");
  server.folder.Set("ServerWelcomeMessage", "Hello after the reload");
  server.folder.Set("ServerPort", std::to_string(FreePort()));
  const std::size_t mark = server.process->LineCount();
  server.process->Signal(SIGHUP);
  ASSERT_TRUE(server.process->WaitForLine("Settings reloaded", milliseconds(5000), mark))
      << server.process->Transcript();
  EXPECT_TRUE(server.process->WaitForLine("until it is restarted", milliseconds(1000), mark));

  // Still on the old port, with the new name.
  Client after(server.Port());
  auto welcome = after.WaitForType(6);
  ASSERT_TRUE(welcome) << server.process->Transcript();
  EXPECT_EQ(welcome->name, "Renamed");
  EXPECT_EQ(welcome->body, "1:Hello after the reload");

  // Warnings do not stop a reload; they show on the console.
  server.folder.Set("FloodStopper", "150");
  std::size_t next = server.process->LineCount();
  server.process->Signal(SIGHUP);
  ASSERT_TRUE(server.process->WaitForLine("Settings reloaded", milliseconds(5000), next))
      << server.process->Transcript();
  EXPECT_TRUE(server.process->WaitForLine(
      "Warning: FloodStopper \"150\" in " + server.folder.Settings().string(), milliseconds(1000),
      next))
      << server.process->Transcript();

  // A reload of a broken file keeps what runs.
  server.folder.Set("ServerPort", "oops");
  server.process->Signal(SIGHUP);
  EXPECT_TRUE(server.process->WaitForLine("Settings not reloaded", milliseconds(5000), mark));
  Client later(server.Port());
  EXPECT_TRUE(later.WaitForType(6));
}

TEST(ServiceTest, AHeadlessServerThatCannotListenEndsWithThreeAndSaysWhy) {
  WorkFolder folder;
  // Something else holds the port.
  const int holder = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(folder.Port());
  ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(holder, 1), 0);
  const Outcome run = RunServer({"--headless", "-C", folder.Dir().string()});
  ::close(holder);
  EXPECT_EQ(run.status, 3) << run.out;
  EXPECT_NE(run.out.find("cannot listen on 127.0.0.1:" + std::to_string(folder.Port()) + ": "),
            std::string::npos)
      << run.out;
}

TEST(ServiceTest, ADisplayThatIsNotThereMeansHeadless) {
  const char* old = std::getenv("DISPLAY");
  const std::string saved = old != nullptr ? old : "";
  // No X server answers on display 197 here.
  ::setenv("DISPLAY", ":197", 1);
  WorkFolder folder;
  ServerProcess process({"-C", folder.Dir().string()});
  const bool ready =
      process.WaitForLine("Waiting for connections", milliseconds(10000)).has_value();
  if (old != nullptr) {
    ::setenv("DISPLAY", saved.c_str(), 1);
  } else {
    ::unsetenv("DISPLAY");
  }
  ASSERT_TRUE(ready) << process.Transcript();
#if ORV_GUI_BUILT
  EXPECT_TRUE(
      process.WaitForLine("no usable display (DISPLAY=:197: nothing answers on "
                          "/tmp/.X11-unix/X197"));
#endif
  process.Signal(SIGTERM);
  EXPECT_EQ(process.WaitExit(milliseconds(5000)), 0);
}

TEST(ServiceTest, OrvchatctlCarriesOutEveryCommandOnARunningServer) {
  RunningServer server;
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  const std::string dir = server.folder.Dir().string();
  Client alice(server.Port());
  Client bob(server.Port());
  ASSERT_TRUE(alice.WaitForType(6) && bob.WaitForType(6));
  ASSERT_TRUE(alice.Send(MakePacket("AA01", "alice", 4, "1:online")));
  ASSERT_TRUE(bob.Send(MakePacket("BB02", "bob", 4, "1:online")));
  ASSERT_TRUE(alice.WaitFor([](const Packet& p) { return p.name == "bob" && p.type == 4; }));

  Outcome run = Ctl({"-C", dir, "status"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("listening on 127.0.0.1:" + std::to_string(server.Port())),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("users online: 2"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("uptime: 0 d 00:00:"), std::string::npos) << run.out;

  run = Ctl({"--socket=" + dir + "/orvchatserver.sock", "users"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("MAC   name   reported IP"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\nAA01  alice"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\nBB02  bob"), std::string::npos) << run.out;

  bob.Clear();
  run = Ctl({"-C", dir, "send", "hello", "from", "the", "operator"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Operator message: hello from the operator"), std::string::npos);
  auto said = bob.WaitForType(6);
  ASSERT_TRUE(said);
  EXPECT_EQ(said->body, "1:hello from the operator");

  run = Ctl({"-C", dir, "afs", "BB02", "20"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(bob.WaitFor([](const Packet& p) { return p.type == 45 && p.body == "1:20"; }));

  run = Ctl({"-C", dir, "refresh"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Users connected: 2"), std::string::npos) << run.out;

  run = Ctl({"-C", dir, "block", "name", "BB02"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Blocked by name: bob"), std::string::npos) << run.out;
  run = Ctl({"-C", dir, "block", "ip", "BB02"});
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_NE(run.out.find("orvchatctl: The user with MAC BB02 is blocked already."),
            std::string::npos)
      << run.out;
  run = Ctl({"-C", dir, "unblock", "BB02"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Unblocked by name: bob"), std::string::npos) << run.out;

  run = Ctl({"-C", dir, "kick", "AA01"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Kicked user at 10.0.0.7 (alice)"), std::string::npos) << run.out;
  EXPECT_TRUE(alice.WaitClosed(milliseconds(3000)));

  run = Ctl({"-C", dir, "reload"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Settings reloaded"), std::string::npos) << run.out;

  // Mistakes: the console's words, status 2.
  run = Ctl({"-C", dir, "afs", "BB02"});
  EXPECT_EQ(run.status, 2) << run.out;
  run = Ctl({"-C", dir, "shout"});
  EXPECT_EQ(run.status, 2) << run.out;
  EXPECT_NE(run.out.find("see --help"), std::string::npos) << run.out;

  bob.Clear();
  run = Ctl({"-C", dir, "stop"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(server.process->WaitExit(milliseconds(5000)), 0);
  auto goodbye = bob.WaitForType(6);
  ASSERT_TRUE(goodbye);
  EXPECT_NE(goodbye->body.find("shutting down"), std::string::npos);
  EXPECT_TRUE(server.process->WaitForLine("Server stopped", milliseconds(2000)));
  // The socket goes with the server, and orvchatctl says nobody is there.
  EXPECT_FALSE(fs::exists(server.folder.Dir() / "orvchatserver.sock"));
  run = Ctl({"-C", dir, "status"});
  EXPECT_EQ(run.status, 3) << run.out;
  EXPECT_NE(run.out.find("no server is running there"), std::string::npos) << run.out;
  // Without -C it says every place it looked, and how to name the right one.
  run = Ctl({"status"}, dir);
  EXPECT_EQ(run.status, 3) << run.out;
  EXPECT_NE(
      run.out.find("looked for the server's control socket at " + dir + "/orvchatserver.sock and "),
      std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("give that folder with -C DIR"), std::string::npos) << run.out;
}

TEST(ServiceTest, OrvchatctlActsOnTheUserWhoseMacItIsGivenNeverOnARow) {
  RunningServer server;
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  const std::string dir = server.folder.Dir().string();
  auto alice = std::make_unique<Client>(server.Port());
  Client boris(server.Port());
  Client clara(server.Port());
  ASSERT_TRUE(alice->Send(MakePacket("AA01", "alice", 4, "1:online")));
  alice->Pump(milliseconds(100));
  ASSERT_TRUE(boris.Send(MakePacket("BB02", "boris", 4, "1:online")));
  boris.Pump(milliseconds(100));
  ASSERT_TRUE(clara.Send(MakePacket("CC03", "clara", 4, "1:online")));
  ASSERT_TRUE(clara.WaitFor([](const Packet& p) { return p.name == "clara" && p.type == 4; }));
  Outcome run = Ctl({"-C", dir, "users"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_LT(run.out.find("AA01  alice"), run.out.find("BB02  boris")) << run.out;

  // The admin saw boris second; alice, above him, leaves; clara moves up. A row number
  // that meant boris must not reach clara: it is refused, with the way to say it.
  const std::size_t mark = server.process->LineCount();
  alice.reset();
  ASSERT_TRUE(
      server.process->WaitForLine("Connection closed: 127.0.0.1 (alice)", milliseconds(5000), mark))
      << server.process->Transcript();
  run = Ctl({"-C", dir, "kick", "1"});
  EXPECT_EQ(run.status, 2) << run.out;
  EXPECT_NE(run.out.find("orvchatctl takes the MAC that 'orvchatctl users' prints, not a row "
                         "number"),
            std::string::npos)
      << run.out;
  for (const char* word : {"block", "unblock", "afs"}) {
    std::vector<std::string> args = {"-C", dir, word};
    if (std::string(word) == "block") args.push_back("ip");
    args.push_back("0");
    if (std::string(word) == "afs") args.push_back("30");
    run = Ctl(args);
    EXPECT_EQ(run.status, 2) << word << run.out;
  }
  run = Ctl({"-C", dir, "kick", "AA01"});
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_NE(run.out.find("No user with MAC 'AA01' is online"), std::string::npos) << run.out;
  EXPECT_FALSE(clara.WaitClosed(milliseconds(600)));
  EXPECT_FALSE(boris.WaitClosed(milliseconds(1)));

  run = Ctl({"-C", dir, "kick", "BB02"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Kicked user at 10.0.0.7 (boris)"), std::string::npos) << run.out;
  EXPECT_TRUE(boris.WaitClosed(milliseconds(3000)));
  EXPECT_FALSE(clara.WaitClosed(milliseconds(600)));
}

// Another user must not be able to put a socket of their own where the server's is: it
// would take the operator's commands and answer them.
TEST(ServiceTest, TheServerOpensNoControlSocketInAFolderEveryUserMayWrite) {
  RunningServer server({}, [](WorkFolder& folder) {
    fs::permissions(folder.Dir(), fs::perms::all, fs::perm_options::replace);
  });
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  const std::string dir = server.folder.Dir().string();
  EXPECT_TRUE(server.process->WaitForLine("every user may write to the folder " + dir))
      << server.process->Transcript();
  EXPECT_TRUE(server.process->WaitForLine("orvchatctl cannot reach this server"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(server.folder.Dir() / "orvchatserver.sock")));
  // The server goes on serving, without the socket.
  Client client(server.Port());
  EXPECT_TRUE(client.WaitForType(6));
  const Outcome run = Ctl({"-C", dir, "status"});
  EXPECT_EQ(run.status, 3) << run.out;

  // A folder below it is no safer: the folder above may be renamed away with it.
  fs::create_directory(server.folder.Dir() / "inner");
  fs::permissions(server.folder.Dir() / "inner", fs::perms(0755), fs::perm_options::replace);
  RunningServer inner({"--control", dir + "/inner/ctl.sock"});
  ASSERT_TRUE(inner.ready) << inner.process->Transcript();
  EXPECT_TRUE(inner.process->WaitForLine("every user may write to the folder " + dir))
      << inner.process->Transcript();
  EXPECT_FALSE(fs::exists(fs::symlink_status(server.folder.Dir() / "inner" / "ctl.sock")));
}

// In a folder like /tmp (everyone writes, nobody removes another's files) the server's own
// socket is safe, but a file another user put there first is neither replaced nor used.
TEST(ServiceTest, InAStickyFolderTheServerUsesOnlyASocketItMadeItself) {
  SharedFolder shared(fs::perms::all | fs::perms::sticky_bit);
  const fs::path socket = shared.Dir() / "ctl.sock";
  {
    RunningServer server({"--control", socket.string()});
    ASSERT_TRUE(server.ready) << server.process->Transcript();
    const Outcome run = Ctl({"--socket", socket.string(), "status"});
    EXPECT_EQ(run.status, 0) << run.out << server.process->Transcript();
    EXPECT_NE(run.out.find("users online: 0"), std::string::npos) << run.out;
  }
  // The server above was killed: its socket is left behind, and the next one replaces it.
  ASSERT_TRUE(fs::is_socket(fs::symlink_status(socket)));
  {
    RunningServer server({"--control", socket.string()});
    ASSERT_TRUE(server.ready) << server.process->Transcript();
    EXPECT_EQ(Ctl({"--socket", socket.string(), "status"}).status, 0)
        << server.process->Transcript();
  }
  fs::remove(socket);

  // Another user's socket that answers: the server does not even ask it.
  StandIn standIn(socket);
  ASSERT_TRUE(standIn.Listening());
  if (!GiveAway(socket)) GTEST_SKIP() << "only root can make a file of another user";
  RunningServer server({"--control", socket.string()});
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  EXPECT_TRUE(
      server.process->WaitForLine(socket.string() + " belongs to user ", milliseconds(5000)))
      << server.process->Transcript();
  EXPECT_TRUE(server.process->WaitForLine("(uid 65534)"));
  EXPECT_TRUE(server.process->WaitForLine("orvchatctl cannot reach this server"));
  EXPECT_FALSE(standIn.Knocked());
  struct stat after {};
  ASSERT_EQ(::lstat(socket.c_str(), &after), 0);
  EXPECT_EQ(after.st_uid, kOtherUser);
  EXPECT_TRUE(S_ISSOCK(after.st_mode));
}

// orvchatctl run in a folder everyone may write to (or told a socket there) must not hand
// the operator's command to another user's socket.
TEST(ServiceTest, OrvchatctlTalksOnlyToASocketOfRootOrItsOwnUser) {
  SharedFolder shared(fs::perms::all);
  const fs::path socket = shared.Dir() / "orvchatserver.sock";
  StandIn standIn(socket);
  ASSERT_TRUE(standIn.Listening());
  // A link to a socket is not the socket: whoever made the link chose where it leads.
  const fs::path link = shared.Dir() / "link.sock";
  fs::create_symlink(socket, link);
  Outcome run = Ctl({"--socket", link.string(), "stop"});
  EXPECT_EQ(run.status, 3) << run.out;
  EXPECT_NE(run.out.find(link.string() + " is a symbolic link"), std::string::npos) << run.out;
  EXPECT_FALSE(standIn.Knocked());

  if (!GiveAway(socket)) GTEST_SKIP() << "only root can make a file of another user";
  for (const Outcome& refused :
       {Ctl({"stop"}, shared.Dir().string()), Ctl({"--socket", socket.string(), "stop"}),
        Ctl({"-C", shared.Dir().string(), "kick", "AA01"})}) {
    EXPECT_EQ(refused.status, 3) << refused.out;
    EXPECT_NE(refused.out.find("orvchatctl: " + socket.string() + " belongs to user "),
              std::string::npos)
        << refused.out;
    EXPECT_NE(refused.out.find("(uid 65534)"), std::string::npos) << refused.out;
    // Nothing to say about other places to look: it was found, and is not used.
    EXPECT_EQ(refused.out.find("looked for"), std::string::npos) << refused.out;
  }
  EXPECT_FALSE(standIn.Knocked());
}

TEST(ServiceTest, OrvchatctlShowsWhatItReceivesWithControlCharactersEscaped) {
  SharedFolder own(fs::perms(0700));
  const fs::path socket = own.Dir() / "orvchatserver.sock";
  StandIn standIn(socket);
  ASSERT_TRUE(standIn.Listening());
  // Title, screen clearing and colours, as ESC sequences, 8-bit CSI bytes and UTF-8 C1 CSI.
  standIn.Answer(
      "out The server is stopping.\x1B]0;owned\x07\x1B[2J\x1B[31mred\x9B"
      "32m\xC2\x9B"
      "33m \xD0\x96\n"
      "err refused\x1B[8m\nend 0\n");
  const Outcome run = Ctl({"--socket", socket.string(), "stop"});
  EXPECT_EQ(standIn.Request(), "/stop\n");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("The server is stopping.\\x1B]0;owned\\x07\\x1B[2J\\x1B[31mred\\x9B32m"
                         "\\u009B33m \xD0\x96\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("orvchatctl: refused\\x1B[8m\n"), std::string::npos) << run.out;
  for (const char raw : {'\x1B', '\x07', '\x9B'})
    EXPECT_EQ(run.out.find(raw), std::string::npos) << static_cast<int>(raw) << run.out;

  // A stream is shown the same way, line by line.
  standIn.Answer("err following\x1B[8m\nout \x1B[2Jcleared\x9B\nend 0\n");
  const Outcome followed = Ctl({"--socket", socket.string(), "follow"});
  EXPECT_EQ(standIn.Request(), "/follow\n");
  EXPECT_EQ(followed.status, 0) << followed.out;
  EXPECT_EQ(followed.out, "orvchatctl: following\\x1B[8m\n\\x1B[2Jcleared\\x9B\n");
}

// orvchatctl follow shows what happens as it happens: a client's connection within a second,
// users joining, changing and leaving, in words or as JSON, until the server stops.
TEST(ServiceTest, OrvchatctlFollowShowsAConnectionWithinASecond) {
  RunningServer server;
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  const std::string dir = server.folder.Dir().string();
  // The control socket opens a moment after the server listens.
  for (int i = 0; i < 500 && !fs::is_socket(server.folder.Dir() / "orvchatserver.sock"); ++i)
    std::this_thread::sleep_for(milliseconds(10));
  CtlProcess follower({"-C", dir, "follow"});
  CtlProcess json({"-C", dir, "follow", "--json"});
  // From the greeting on, nothing is missed.
  ASSERT_TRUE(follower.WaitForLine("orvchatctl: following the server's console lines and users"))
      << follower.Transcript();
  ASSERT_TRUE(json.WaitForLine("orvchatctl: following")) << json.Transcript();

  Client alice(server.Port());
  const auto accepted =
      follower.WaitForLine("Connection accepted from 127.0.0.1", milliseconds(1000));
  ASSERT_TRUE(accepted) << follower.Transcript();
  EXPECT_LT(accepted->arrived - alice.ConnectedAt(), milliseconds(1000));
  ASSERT_TRUE(alice.Send(MakePacket("AA01", "alice", 4, "1:online")));
  EXPECT_TRUE(follower.WaitForLine("joined: MAC AA01, name alice, IP 10.0.0.7, address 127.0.0.1",
                                   milliseconds(1000)))
      << follower.Transcript();
  const auto joined = json.WaitForLine(R"({"event":"joined")", milliseconds(1000));
  ASSERT_TRUE(joined) << json.Transcript();
  const auto event = nlohmann::json::parse(joined->text);
  EXPECT_EQ(event.at("user").at("mac"), "AA01");
  EXPECT_EQ(event.at("user").at("name"), "alice");

  // What the operator does shows too.
  EXPECT_EQ(Ctl({"-C", dir, "block", "name", "AA01"}).status, 0);
  EXPECT_TRUE(
      follower.WaitForLine("changed: MAC AA01, name alice, IP 10.0.0.7, address "
                           "127.0.0.1, blocked by NAME"))
      << follower.Transcript();
  EXPECT_EQ(Ctl({"-C", dir, "kick", "AA01"}).status, 0);
  EXPECT_TRUE(follower.WaitForLine("left: MAC AA01, name alice")) << follower.Transcript();
  EXPECT_TRUE(json.WaitForLine(R"({"event":"left")")) << json.Transcript();

  // Interrupted, a follower ends there; the others go on.
  json.Signal(SIGINT);
  EXPECT_TRUE(json.WaitExit(milliseconds(3000)));
  Client bob(server.Port());
  ASSERT_TRUE(bob.Send(MakePacket("BB02", "bob", 4, "1:online")));
  EXPECT_TRUE(follower.WaitForLine("joined: MAC BB02")) << follower.Transcript();

  // The server stops: the stream ends, and so does orvchatctl, with 0.
  EXPECT_EQ(Ctl({"-C", dir, "stop"}).status, 0);
  EXPECT_EQ(follower.WaitExit(milliseconds(5000)), 0) << follower.Transcript();
  EXPECT_TRUE(follower.WaitForLine("orvchatctl: the server is stopping; nothing more follows"))
      << follower.Transcript();
  EXPECT_EQ(server.process->WaitExit(milliseconds(5000)), 0);
}

// users --json and status --json hold what users and status print, for scripts.
TEST(ServiceTest, OrvchatctlJsonParsesAndHoldsWhatUsersAndStatusPrint) {
  RunningServer server;
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  const std::string dir = server.folder.Dir().string();
  Client alice(server.Port());
  Client boris(server.Port());
  ASSERT_TRUE(alice.Send(MakePacket("AA01", "alice", 4, "1:online")));
  alice.Pump(milliseconds(100));
  // A name in Cyrillic (code-page bytes on the wire) with a control character in it.
  ASSERT_TRUE(boris.Send(MakePacket("BB02", "\xC1\xEE\xF0\xE8\xF1\x01", 4, "1:online")));
  ASSERT_TRUE(boris.WaitFor([](const Packet& p) { return p.type == 4 && p.mac == "BB02"; }));
  ASSERT_EQ(Ctl({"-C", dir, "afs", "BB02", "20"}).status, 0);

  const Outcome table = Ctl({"-C", dir, "users"});
  ASSERT_EQ(table.status, 0) << table.out;
  const Outcome users = Ctl({"-C", dir, "users", "--json"});
  ASSERT_EQ(users.status, 0) << users.out;
  ASSERT_EQ(std::count(users.out.begin(), users.out.end(), '\n'), 1) << users.out;
  const auto list = nlohmann::json::parse(users.out).at("users");
  ASSERT_EQ(list.size(), 2u) << users.out;
  const char* const expectedAlice =
      R"({"mac":"AA01","name":"alice","ip":"10.0.0.7","address":"127.0.0.1",)"
      R"("block":"","afs":null})";
  EXPECT_EQ(list[0], nlohmann::json::parse(expectedAlice));
  EXPECT_EQ(list[1].at("mac"), "BB02");
  EXPECT_EQ(list[1].at("name"), "\xD0\x91\xD0\xBE\xD1\x80\xD0\xB8\xD1\x81\x01");
  EXPECT_EQ(list[1].at("afs"), 20);
  // The same users in the same order as the table, which shows the control character
  // escaped.
  EXPECT_NE(table.out.find("\nAA01  alice"), std::string::npos) << table.out;
  EXPECT_NE(table.out.find("\nBB02  \xD0\x91\xD0\xBE\xD1\x80\xD0\xB8\xD1\x81\\x01"),
            std::string::npos)
      << table.out;

  const Outcome status = Ctl({"-C", dir, "status", "--json"});
  ASSERT_EQ(status.status, 0) << status.out;
  const auto now = nlohmann::json::parse(status.out);
  EXPECT_EQ(now.at("port"), server.Port());
  EXPECT_EQ(now.at("address"), "127.0.0.1");
  EXPECT_EQ(now.at("listening"), true);
  EXPECT_EQ(now.at("notListeningReason"), "");
  EXPECT_EQ(now.at("users"), 2);
  EXPECT_EQ(now.at("connections"), 2);
  EXPECT_TRUE(now.at("uptimeSeconds").is_number_integer());
  EXPECT_NE(now.at("version").get<std::string>().find("beta"), std::string::npos);
  const Outcome shown = Ctl({"-C", dir, "status"});
  EXPECT_NE(shown.out.find("version: " + now.at("version").get<std::string>()), std::string::npos)
      << shown.out;
}

// A block stays in the block list when its user leaves; orvchatctl and the console list it
// and lift it by its key.
TEST(ServiceTest, AnOfflineUsersBlockIsListedAndLiftedFromOrvchatctlAndTheConsole) {
  RunningServer server;
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  const std::string dir = server.folder.Dir().string();
  {
    Client bob(server.Port());
    Client carol(server.Port());
    Client dave(server.Port());
    ASSERT_TRUE(bob.Send(MakePacket("BB02", "bob", 4, "1:online")));
    bob.Pump(milliseconds(100));
    ASSERT_TRUE(carol.Send(MakePacket("CC03", "carol", 4, "1:online")));
    carol.Pump(milliseconds(100));
    // A name with a control character: its key shows escaped, and is given back so.
    ASSERT_TRUE(dave.Send(MakePacket("DD04", "da\x01ve", 4, "1:online")));
    ASSERT_TRUE(dave.WaitFor([](const Packet& p) { return p.type == 4 && p.mac == "DD04"; }));
    ASSERT_EQ(Ctl({"-C", dir, "block", "name", "BB02"}).status, 0);
    ASSERT_EQ(Ctl({"-C", dir, "block", "mac", "CC03"}).status, 0);
    ASSERT_EQ(Ctl({"-C", dir, "block", "name", "DD04"}).status, 0);
  }
  for (int i = 0; i < 50 && Ctl({"-C", dir, "users"}).out != "no users\n"; ++i)
    std::this_thread::sleep_for(milliseconds(100));
  ASSERT_EQ(Ctl({"-C", dir, "users"}).out, "no users\n");

  Outcome run = Ctl({"-C", dir, "blocks"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out, "bob  (name)\nCC03  (name)\nda\\x01ve  (name)\n");
  const std::size_t mark = server.process->LineCount();
  server.process->Type("/blocks");
  EXPECT_TRUE(server.process->WaitForLine("bob  (name)", milliseconds(3000), mark));
  EXPECT_TRUE(server.process->WaitForLine("CC03  (name)", milliseconds(3000), mark));
  EXPECT_TRUE(server.process->WaitForLine("da\\x01ve  (name)", milliseconds(3000), mark));
  run = Ctl({"-C", dir, "blocks", "--json"});
  const auto listed = nlohmann::json::parse(run.out).at("blocks");
  ASSERT_EQ(listed.size(), 3u) << run.out;
  EXPECT_EQ(listed[2].at("key"), "da\x01ve");

  // orvchatctl lifts one by its key, the flag saying what it is; the console the other.
  run = Ctl({"-C", dir, "unblock", "--name", "bob"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Block list entry lifted: bob"), std::string::npos) << run.out;
  run = Ctl({"-C", dir, "unblock", "--name", "bob"});
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_NE(run.out.find("orvchatctl: The block list holds no block for bob."), std::string::npos)
      << run.out;
  server.process->Type("/unblock-entry CC03");
  EXPECT_TRUE(server.process->WaitForLine("Block list entry lifted: CC03", milliseconds(3000)))
      << server.process->Transcript();
  server.process->Type("/unblock-entry da\\x01ve");
  EXPECT_TRUE(server.process->WaitForLine("Block list entry lifted: da\\x01ve", milliseconds(3000)))
      << server.process->Transcript();
  run = Ctl({"-C", dir, "blocks"});
  EXPECT_EQ(run.out, "no stored blocks\n");

  // They come back unblocked.
  Client bob(server.Port());
  ASSERT_TRUE(bob.Send(MakePacket("BB02", "bob", 4, "1:online")));
  ASSERT_TRUE(bob.WaitFor([](const Packet& p) { return p.type == 4 && p.mac == "BB02"; }));
  const auto list = nlohmann::json::parse(Ctl({"-C", dir, "users", "--json"}).out).at("users");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].at("block"), "");
}

}  // namespace
}  // namespace orv::e2e
