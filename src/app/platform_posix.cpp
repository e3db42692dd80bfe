// The platform calls of platform.h on Linux and the other POSIX systems.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

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
