// The platform calls of platform.h on Linux and the other POSIX systems.
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "app/platform.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace orv {

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

void IgnoreBrokenPipe() {
  std::signal(SIGPIPE, SIG_IGN);
}

namespace {

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

void HoldStopSignals() {
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void ReleaseStopSignals() {
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void IgnoreStopSignals() {
  std::signal(SIGINT, SIG_IGN);
  std::signal(SIGTERM, SIG_IGN);
  std::signal(SIGHUP, SIG_IGN);
}

void RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max) return;
  rlimit raised = limit;
  raised.rlim_cur = limit.rlim_max;
  if (setrlimit(RLIMIT_NOFILE, &raised) == 0) return;
  // Some systems refuse an unlimited soft limit (macOS takes at most OPEN_MAX): the most
  // that is taken, from a generous figure down.
  for (const rlim_t wanted : {rlim_t{1} << 20, rlim_t{65536}, rlim_t{10240}}) {
    if (wanted <= limit.rlim_cur || wanted > limit.rlim_max) continue;
    raised.rlim_cur = wanted;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) return;
  }
}

bool StdinReadTimesOut() {
  return true;
}

StdinRead ReadStdinChunk(std::string& out, std::chrono::milliseconds timeout) {
  pollfd input{STDIN_FILENO, POLLIN, 0};
  const int ready = ::poll(&input, 1, static_cast<int>(timeout.count()));
  if (ready == 0) return StdinRead::kTimeout;
  if (ready < 0) return errno == EINTR ? StdinRead::kTimeout : StdinRead::kEnd;
  char buffer[4096];
  const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
  if (count > 0) {
    out.append(buffer, static_cast<std::size_t>(count));
    return StdinRead::kData;
  }
  if (count < 0 && (errno == EINTR || errno == EAGAIN)) return StdinRead::kTimeout;
  return StdinRead::kEnd;
}

namespace {

// Connects to a local socket (a leading '@' names one in the abstract namespace); the
// system's reason when that fails.
std::string ConnectLocal(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return "the path is too long";
  std::memcpy(address.sun_path, path.data(), path.size());
  socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
  if (!path.empty() && path[0] == '@') {
    address.sun_path[0] = '\0';
  } else {
    length += 1;
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::strerror(errno);
  const int result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length);
  const int error = errno;
  ::close(fd);
  return result == 0 ? std::string() : std::string(std::strerror(error));
}

// Connects to host:port over TCP within a second; the reason when that fails.
std::string ConnectTcp(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 ||
      found == nullptr) {
    return "the host " + host + " is not known";
  }
  std::string why = "nothing answers";
  for (addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    const int fd = ::socket(entry->ai_family, entry->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                            entry->ai_protocol);
    if (fd < 0) continue;
    int result = ::connect(fd, entry->ai_addr, entry->ai_addrlen);
    if (result != 0 && errno == EINPROGRESS) {
      pollfd wait{fd, POLLOUT, 0};
      int error = ETIMEDOUT;
      if (::poll(&wait, 1, 1000) == 1) {
        socklen_t size = sizeof error;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
      }
      result = error == 0 ? 0 : -1;
      errno = error;
    }
    if (result != 0) why = std::strerror(errno);
    ::close(fd);
    if (result == 0) {
      ::freeaddrinfo(found);
      return {};
    }
  }
  ::freeaddrinfo(found);
  return why;
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

std::string DisplayProblem() {
  std::string problems;
  const std::string wayland = Environment("WAYLAND_DISPLAY");
  if (!wayland.empty()) {
    const std::string path =
        wayland.front() == '/' ? wayland : Environment("XDG_RUNTIME_DIR") + "/" + wayland;
    const std::string why = ConnectLocal(path);
    if (why.empty()) return {};
    problems = "WAYLAND_DISPLAY=" + wayland + ": nothing answers on " + path + " (" + why + ")";
  }
  const std::string x11 = Environment("DISPLAY");
  if (!x11.empty()) {
    std::string why;
    if (x11.front() == '/') {
      why = ConnectLocal(x11);
    } else {
      // [host]:display[.screen]
      const auto colon = x11.rfind(':');
      const std::string host = colon == std::string::npos ? std::string() : x11.substr(0, colon);
      const std::string rest = colon == std::string::npos ? x11 : x11.substr(colon + 1);
      const int number = std::atoi(rest.c_str());
      if (colon == std::string::npos || rest.empty() || rest[0] < '0' || rest[0] > '9') {
        why = "not a display name";
      } else if (host.empty() || host == "unix") {
        const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
        why = ConnectLocal("@" + path);
        if (!why.empty()) why = ConnectLocal(path);
        if (!why.empty()) why = "nothing answers on " + path + " (" + why + ")";
      } else {
        why = ConnectTcp(host, 6000 + number);
        if (!why.empty()) {
          why = "nothing answers on " + host + " port " + std::to_string(6000 + number) + " (" +
                why + ")";
        }
      }
    }
    if (why.empty()) return {};
    problems += (problems.empty() ? "" : "; ") + ("DISPLAY=" + x11 + ": " + why);
  }
  return problems;
}

void ReleaseFreeHeapMemory() {
#if defined(__GLIBC__)
  // glibc gives back only the top of its heap by itself; what a burst freed below
  // long-lived allocations stays resident until trimmed. A few megabytes are not worth
  // the system calls.
  if (mallinfo2().fordblks < (std::size_t{4} << 20)) return;
  malloc_trim(0);
#endif
}

std::filesystem::path DefaultWorkDir() {
  return ".";
}

const char* DefaultWorkDirName() {
  return "the current folder";
}

}  // namespace orv
