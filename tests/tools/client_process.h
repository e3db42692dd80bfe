// The terminal client run as a real process for end-to-end tests: stdin on a pipe the test
// writes to, stdout and stderr collected together. Every wait is bounded; only the started
// PID is ever signalled.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace orv::client_test {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class ClientProcess {
 public:
  ClientProcess(const std::string& binary, const std::vector<std::string>& args) {
    ::signal(SIGPIPE, SIG_IGN);
    std::string program = binary;
    std::vector<std::string> copies = args;
    std::vector<char*> argv;
    argv.push_back(program.data());
    for (auto& arg : copies)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    int input[2];
    int output[2];
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(input[0], STDIN_FILENO);
      ::dup2(output[1], STDOUT_FILENO);
      ::dup2(output[1], STDERR_FILENO);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(input[0]);
    ::close(output[1]);
    stdin_ = input[1];
    stdout_ = output[0];
    reader_ = std::thread([this] { ReadOutput(); });
  }

  ~ClientProcess() {
    if (pid_ > 0 && !exitStatus_) {
      ::kill(pid_, SIGKILL);
      WaitExit(milliseconds(5000));
    }
    if (stdin_ >= 0) ::close(stdin_);
    if (reader_.joinable()) reader_.join();
    if (stdout_ >= 0) ::close(stdout_);
  }
  ClientProcess(const ClientProcess&) = delete;
  ClientProcess& operator=(const ClientProcess&) = delete;

  bool Started() const { return pid_ > 0; }

  void Type(const std::string& text) {
    if (stdin_ < 0) return;
    const ssize_t written = ::write(stdin_, text.data(), text.size());
    (void)written;  // a client that has gone shows in the test's next wait
  }

  // Whether the output comes to contain text within limit.
  bool WaitForOutput(const std::string& text, milliseconds limit = milliseconds(5000)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] {
      return output_.find(text) != std::string::npos || ended_;
    }) && output_.find(text) != std::string::npos;
  }

  // The exit status once the process ended within limit (-1 when killed by a signal).
  std::optional<int> WaitExit(milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!exitStatus_) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        break;
      }
      if (Clock::now() >= deadline) break;
      std::this_thread::sleep_for(milliseconds(5));
    }
    if (exitStatus_) {
      std::unique_lock lock(mutex_);
      changed_.wait_for(lock, milliseconds(2000), [this] { return ended_; });
    }
    return exitStatus_;
  }

  std::string Output() {
    std::lock_guard lock(mutex_);
    return output_;
  }

 private:
  void ReadOutput() {
    char buffer[4096];
    for (;;) {
      const ssize_t count = ::read(stdout_, buffer, sizeof buffer);
      if (count <= 0) break;
      std::lock_guard lock(mutex_);
      output_.append(buffer, static_cast<std::size_t>(count));
      changed_.notify_all();
    }
    std::lock_guard lock(mutex_);
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
  std::string output_;
  bool ended_ = false;
};

}  // namespace orv::client_test
