// End-to-end helpers: a copy of the ready working folder on a free 127.0.0.1 port, the real
// server binary run headless with pipes on stdin and stdout, and a chat client speaking the
// built-in substitution over plain TCP. Every wait is bounded; only the started PID is
// ever signalled.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "protocol/wire_codec.h"

namespace orv::e2e {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

// Whether file comes to contain text within limit (the server writes its files after it
// prints the console line that tells of the change).
inline bool WaitForFileText(const fs::path& file, const std::string& text,
                            milliseconds limit = milliseconds(3000)) {
  const auto deadline = Clock::now() + limit;
  while (ReadFile(file).find(text) == std::string::npos) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(milliseconds(10));
  }
  return true;
}

// Replaces the value of key's tag block (one value line), keeping the file's line ends;
// appends the block when the file has none.
inline void SetTaggedValue(const fs::path& file, const std::string& key, const std::string& value) {
  const std::string content = ReadFile(file);
  const std::string eol = content.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  std::vector<std::string> lines;
  std::istringstream in(content);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  std::vector<std::string> out;
  bool replaced = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    out.push_back(lines[i]);
    if (!replaced && lines[i] == "<" + key + ">") {
      while (i + 1 < lines.size() && lines[i + 1] != "</" + key + ">")
        ++i;
      out.push_back(value);
      replaced = true;
    }
  }
  if (!replaced) {
    out.push_back("<" + key + ">");
    out.push_back(value);
    out.push_back("</" + key + ">");
  }
  std::string result;
  for (const auto& line : out)
    result += line + eol;
  WriteFile(file, result);
}

// A port that was free a moment ago (bound to port 0, then released).
inline std::uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

// A fresh copy of the ready working folder, listening on a free port of 127.0.0.1.
class WorkFolder {
 public:
  WorkFolder() {
    std::random_device random;
    dir_ = fs::temp_directory_path() /
           ("orv-e2e-" + std::to_string(::getpid()) + "-" + std::to_string(random()));
    fs::copy(fs::path(ORV_SOURCE_DIR) / "workdir", dir_, fs::copy_options::recursive);
    port_ = FreePort();
    Set("ServerIP", "127.0.0.1");
    Set("ServerPort", std::to_string(port_));
  }
  ~WorkFolder() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;

  void Set(const std::string& key, const std::string& value) {
    SetTaggedValue(Settings(), key, value);
  }
  fs::path Settings() const { return dir_ / "orvchatserver.cfg"; }
  const fs::path& Dir() const { return dir_; }
  std::uint16_t Port() const { return port_; }

 private:
  fs::path dir_;
  std::uint16_t port_ = 0;
};

// The server binary with stdin and stdout on pipes; stdout is collected line by line. A
// descriptor limit above 0 becomes the child's RLIMIT_NOFILE (soft and hard) before the exec.
class ServerProcess {
 public:
  explicit ServerProcess(const std::vector<std::string>& args, int descriptorLimit = 0) {
    // A server that ended early must fail a test, not end the test program.
    ::signal(SIGPIPE, SIG_IGN);
    // Everything the child needs is built before the fork: it may only exec.
    std::string binary = ORV_SERVER_BINARY;
    std::vector<std::string> copies = args;
    std::vector<char*> argv;
    argv.push_back(binary.data());
    for (auto& arg : copies)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    const rlimit descriptors{static_cast<rlim_t>(descriptorLimit),
                             static_cast<rlim_t>(descriptorLimit)};
    int input[2];
    int output[2];
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      if (descriptorLimit > 0 && ::setrlimit(RLIMIT_NOFILE, &descriptors) != 0) ::_exit(126);
      ::dup2(input[0], STDIN_FILENO);
      ::dup2(output[1], STDOUT_FILENO);
      ::dup2(output[1], STDERR_FILENO);
      ::close(input[0]);
      ::close(input[1]);
      ::close(output[0]);
      ::close(output[1]);
      ::execv(binary.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(input[0]);
    ::close(output[1]);
    stdin_ = input[1];
    stdout_ = output[0];
    reader_ = std::thread([this] { ReadOutput(); });
  }

  ~ServerProcess() {
    if (pid_ > 0 && !exitStatus_) {
      ::kill(pid_, SIGKILL);
      WaitExit(milliseconds(5000));
    }
    CloseStdin();
    if (reader_.joinable()) reader_.join();
    if (stdout_ >= 0) ::close(stdout_);
  }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }

  void Type(const std::string& line) {
    const std::string text = line + "\n";
    if (stdin_ < 0) return;
    const ssize_t written = ::write(stdin_, text.data(), text.size());
    (void)written;  // a server that has gone shows in the test's next wait
  }
  void CloseStdin() {
    if (stdin_ >= 0) ::close(stdin_);
    stdin_ = -1;
  }
  void Signal(int number) {
    if (pid_ > 0 && !exitStatus_) ::kill(pid_, number);
  }

  // The exit status once the process ended within limit (-1 when killed by a signal).
  std::optional<int> WaitExit(milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!exitStatus_) {
      int status = 0;
      const pid_t done = ::waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        break;
      }
      if (Clock::now() >= deadline) break;
      std::this_thread::sleep_for(milliseconds(10));
    }
    if (exitStatus_) {
      // The process is gone; let the reader take the last of its output, so a transcript
      // read now is whole.
      std::unique_lock lock(mutex_);
      changed_.wait_for(lock, milliseconds(2000), [this] { return ended_; });
    }
    return exitStatus_;
  }

  // Waits until some output line contains text (counting from line `from`); its index.
  std::optional<std::size_t> WaitForLine(const std::string& text,
                                         milliseconds limit = milliseconds(5000),
                                         std::size_t from = 0) {
    std::unique_lock lock(mutex_);
    std::optional<std::size_t> found;
    changed_.wait_for(lock, limit, [&] {
      for (std::size_t i = from; i < lines_.size(); ++i) {
        if (lines_[i].find(text) != std::string::npos) {
          found = i;
          return true;
        }
      }
      return ended_;
    });
    return found;
  }

  // Waits until at least count output lines contain text; whether they did within limit.
  bool WaitForLines(const std::string& text, std::size_t count,
                    milliseconds limit = milliseconds(5000)) {
    std::unique_lock lock(mutex_);
    bool reached = false;
    changed_.wait_for(lock, limit, [&] {
      const auto seen = std::count_if(lines_.begin(), lines_.end(), [&text](const std::string& l) {
        return l.find(text) != std::string::npos;
      });
      reached = static_cast<std::size_t>(seen) >= count;
      return reached || ended_;
    });
    return reached;
  }

  // How many output lines (from line `from` on) contain text.
  std::size_t CountLines(const std::string& text, std::size_t from = 0) {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count_if(
        lines_.begin() + static_cast<std::ptrdiff_t>(std::min(from, lines_.size())), lines_.end(),
        [&text](const std::string& l) { return l.find(text) != std::string::npos; }));
  }

  // The rows of a fresh /users listing, once it is complete. Two listings are asked for: the
  // engine answers in order, so the first ends where the second's header is. Row commands
  // typed afterwards refer to the second, which shows the same users unless they changed.
  std::vector<std::string> ListUsers(milliseconds limit = milliseconds(5000)) {
    const std::size_t mark = LineCount();
    Type("/users");
    Type("/users");
    auto isHeader = [](const std::string& l) { return l.rfind("row ", 0) == 0 || l == "no users"; };
    std::unique_lock lock(mutex_);
    std::vector<std::string> rows;
    changed_.wait_for(lock, limit, [&] {
      rows.clear();
      int headers = 0;
      for (std::size_t i = mark; i < lines_.size() && headers < 2; ++i) {
        const std::string& line = lines_[i];
        if (isHeader(line)) {
          ++headers;
        } else if (headers == 1 && !line.empty() && line[0] >= '0' && line[0] <= '9') {
          rows.push_back(line);
        }
      }
      return headers == 2 || ended_;
    });
    return rows;
  }

  std::vector<std::string> Lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  std::size_t LineCount() {
    std::lock_guard lock(mutex_);
    return lines_.size();
  }
  std::string Transcript() {
    std::string all;
    for (const auto& line : Lines())
      all += line + "\n";
    return all;
  }

 private:
  void ReadOutput() {
    std::string pending;
    char buffer[4096];
    for (;;) {
      const ssize_t count = ::read(stdout_, buffer, sizeof buffer);
      if (count <= 0) break;
      pending.append(buffer, static_cast<std::size_t>(count));
      std::lock_guard lock(mutex_);
      for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
        lines_.push_back(pending.substr(0, end));
        pending.erase(0, end + 1);
      }
      changed_.notify_all();
    }
    std::lock_guard lock(mutex_);
    if (!pending.empty()) lines_.push_back(pending);
    ended_ = true;
    changed_.notify_all();
  }

  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  std::optional<int> exitStatus_;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  bool ended_ = false;
};

// A server packet or a relayed client packet, decoded and split into its fields.
struct Packet {
  std::string text;  // decoded, terminator included
  std::string mac;
  std::string name;
  std::string subject;
  int type = 0;
  std::string body;
  Clock::time_point arrived;

  friend std::ostream& operator<<(std::ostream& out, const Packet& packet) {
    return out << "[type " << packet.type << "] " << packet.text;
  }
};

inline Packet ParsePacket(const std::string& decoded) {
  Packet packet;
  packet.text = decoded;
  std::vector<std::string> fields;
  std::string rest = decoded.substr(0, decoded.find("//end"));
  for (std::size_t cut; (cut = rest.find("||")) != std::string::npos;) {
    fields.push_back(rest.substr(0, cut));
    rest.erase(0, cut + 2);
  }
  fields.push_back(rest);
  if (fields.size() >= 7) {
    const auto open = fields[0].find('(');
    if (open != std::string::npos) {
      packet.mac = fields[0].substr(open + 1);
      if (!packet.mac.empty() && packet.mac.back() == ')') packet.mac.pop_back();
    }
    packet.name = fields[1];
    packet.subject = fields[3];
    packet.type = std::atoi(fields[5].c_str());
    packet.body = fields[6];
    for (std::size_t i = 7; i < fields.size(); ++i)
      packet.body += "||" + fields[i];
  }
  return packet;
}

// The plain text of a client packet: ip(mac)||name||avatar||subject||flag||type||body//end.
inline std::string MakePacket(const std::string& mac, const std::string& name, int type,
                              const std::string& body, const std::string& ip = "10.0.0.7") {
  return ip + "(" + mac + ")||" + name + "||none||0.0||0||" + std::to_string(type) + "||" + body +
         "//end";
}

class Client {
 public:
  // from: the local address to connect from (another loopback address, 127.0.0.2, stands
  // for another machine); empty for the system's choice.
  explicit Client(std::uint16_t port, int receiveBuffer = 0,
                  const WireCodec& codec = WireCodec::BuiltIn(), const char* from = nullptr)
      : codec_(codec) {
    // Not inherited by a server started later in the same test.
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0) {
      ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    if (from != nullptr) {
      sockaddr_in local{};
      local.sin_family = AF_INET;
      ::inet_pton(AF_INET, from, &local.sin_addr);
      ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    connectedAt_ = Clock::now();
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  ~Client() { Close(); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool Connected() const { return connected_; }
  Clock::time_point ConnectedAt() const { return connectedAt_; }
  bool ClosedByPeer() const { return closedByPeer_; }

  bool SendRaw(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t count = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (count <= 0) return false;
      done += static_cast<std::size_t>(count);
    }
    return true;
  }
  bool Send(const std::string& plainPacket) { return SendRaw(codec_.EncodeText(plainPacket)); }

  // Reads what arrives within limit (returns early once the peer closed).
  void Pump(milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!closedByPeer_) {
      const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) break;
      pollfd poller{fd_, POLLIN, 0};
      if (::poll(&poller, 1, static_cast<int>(left.count())) <= 0) break;
      ReadOnce();
    }
  }

  // Reads once, as soon as something arrives within limit.
  void PumpOnce(milliseconds limit) {
    if (closedByPeer_) return;
    pollfd poller{fd_, POLLIN, 0};
    if (::poll(&poller, 1, static_cast<int>(limit.count())) > 0) ReadOnce();
  }

  // The first packet (since the last Clear) that matches, waiting at most limit for it.
  std::optional<Packet> WaitFor(const std::function<bool(const Packet&)>& match,
                                milliseconds limit = milliseconds(3000)) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
      for (const auto& packet : packets_) {
        if (match(packet)) return packet;
      }
      if (closedByPeer_ || Clock::now() >= deadline) return std::nullopt;
      PumpOnce(milliseconds(20));
    }
  }
  std::optional<Packet> WaitForType(int type, milliseconds limit = milliseconds(3000)) {
    return WaitFor([type](const Packet& packet) { return packet.type == type; }, limit);
  }

  // True once the server closed the connection (within limit).
  bool WaitClosed(milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!closedByPeer_ && Clock::now() < deadline)
      Pump(milliseconds(20));
    return closedByPeer_;
  }

  const std::vector<Packet>& Packets() const { return packets_; }
  const std::string& RawReceived() const { return raw_; }
  void Clear() {
    packets_.clear();
    raw_.clear();
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  // Socket-error notices received so far.
  std::size_t Notices() const { return notices_; }

 private:
  void ReadOnce() {
    char buffer[65536];
    const ssize_t count = ::recv(fd_, buffer, sizeof buffer, 0);
    if (count <= 0) {
      closedByPeer_ = true;
      return;
    }
    const auto now = Clock::now();
    raw_.append(buffer, static_cast<std::size_t>(count));
    // The socket-error notice travels as it stands, neither substituted nor terminated, and
    // only ever between packets: take it out before decoding, as a client must.
    undecoded_.append(buffer, static_cast<std::size_t>(count));
    constexpr std::string_view kNotice = "|SERVER: SOCKET ERROR OCCURRED";
    for (std::size_t at; (at = undecoded_.find(kNotice)) != std::string::npos;) {
      undecoded_.erase(at, kNotice.size());
      ++notices_;
    }
    // A notice cut by the read waits for its rest.
    std::size_t keep = 0;
    for (std::size_t n = std::min(undecoded_.size(), kNotice.size() - 1); n > 0; --n) {
      if (std::string_view(undecoded_).substr(undecoded_.size() - n) == kNotice.substr(0, n)) {
        keep = n;
        break;
      }
    }
    decoded_ += codec_.DecodeText(std::string_view(undecoded_).substr(0, undecoded_.size() - keep));
    undecoded_.erase(0, undecoded_.size() - keep);
    for (std::size_t end; (end = decoded_.find("//end")) != std::string::npos;) {
      Packet packet = ParsePacket(decoded_.substr(0, end + 5));
      packet.arrived = now;
      packets_.push_back(std::move(packet));
      decoded_.erase(0, end + 5);
    }
  }

  const WireCodec& codec_;
  int fd_ = -1;
  bool connected_ = false;
  bool closedByPeer_ = false;
  Clock::time_point connectedAt_;
  std::string raw_;
  std::string undecoded_;
  std::string decoded_;
  std::size_t notices_ = 0;
  std::vector<Packet> packets_;
};

// Reads whatever has arrived for any of the clients, for limit (many clients at once, each of
// which must keep draining its socket).
template <typename Clients>
void PumpAll(Clients& clients, milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  do {
    for (auto& client : clients)
      client->PumpOnce(milliseconds(0));
    std::this_thread::sleep_for(milliseconds(2));
  } while (Clock::now() < deadline);
}

// A headless server on a fresh working folder, ready for clients.
struct RunningServer {
  explicit RunningServer(std::vector<std::string> extraArgs = {},
                         const std::function<void(WorkFolder&)>& prepare = nullptr,
                         int descriptorLimit = 0) {
    if (prepare) prepare(folder);
    Start(std::move(extraArgs), descriptorLimit);
  }
  std::uint16_t Port() const { return folder.Port(); }

  // Runs the binary (again) on the same folder; a previous run must have ended.
  void Start(std::vector<std::string> extraArgs = {}, int descriptorLimit = 0) {
    std::vector<std::string> args = {"--headless", "-C", folder.Dir().string()};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    process.reset();
    process.emplace(args, descriptorLimit);
    ready = process->WaitForLine("Waiting for connections", milliseconds(10000)).has_value();
  }

  // Everything the server wrote to its logs so far (one file per day).
  std::string Log() const {
    std::string all;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder.Dir() / "logs", ec))
      all += ReadFile(entry.path());
    return all;
  }

  WorkFolder folder;
  std::optional<ServerProcess> process;
  bool ready = false;
};

}  // namespace orv::e2e
