// A real terminal for end-to-end tests of the chat screen: a program run in a tmux pane of a
// tmux server of the test's own (its own socket, no configuration), typed to with
// send-keys and read back with capture-pane, which give the screen as a person sees it.
// Every wait is bounded; the tmux server is ended by its PID.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace orv::client_test {

class TmuxTerminal {
 public:
  using Clock = std::chrono::steady_clock;

  // Runs argv (quoted for the shell) with env ("NAME=value" words) in a pane of cols x rows.
  TmuxTerminal(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               int cols = 100, int rows = 24) {
    std::random_device random;
    socket_ = (std::filesystem::temp_directory_path() /
               ("orv-tmux-" + std::to_string(::getpid()) + "-" + std::to_string(random())))
                  .string();
    std::string command = "env";
    for (const std::string& word : env)
      command += " " + Quote(word);
    for (const std::string& word : argv)
      command += " " + Quote(word);
    // The pane stays after the program ends, so its last screen and status can be read.
    Tmux("new-session -d -x " + std::to_string(cols) + " -y " + std::to_string(rows) +
         " 'sleep 600' \\; set-option -g remain-on-exit on \\; respawn-pane -k " + Quote(command));
    const std::string pid = Tmux("display-message -p '#{pid}'");
    server_ = static_cast<pid_t>(std::atoi(pid.c_str()));
  }

  ~TmuxTerminal() {
    if (server_ > 0) {
      ::kill(server_, SIGTERM);
      const auto deadline = Clock::now() + std::chrono::seconds(5);
      while (::kill(server_, 0) == 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::error_code ignored;
    std::filesystem::remove(socket_, ignored);
  }
  TmuxTerminal(const TmuxTerminal&) = delete;
  TmuxTerminal& operator=(const TmuxTerminal&) = delete;

  bool Started() const { return server_ > 0; }

  // Text typed as it is (UTF-8), and named keys ("Enter", "Up", "PPage").
  void Type(const std::string& text) { Tmux("send-keys -l " + Quote(text)); }
  void Press(const std::string& key) { Tmux("send-keys " + key); }

  std::vector<std::string> Rows() {
    std::vector<std::string> rows;
    std::string all = Tmux("capture-pane -p");
    for (std::size_t end; (end = all.find('\n')) != std::string::npos;) {
      rows.push_back(all.substr(0, end));
      all.erase(0, end + 1);
    }
    return rows;
  }
  std::string Screen() {
    std::string all;
    for (const std::string& row : Rows())
      all += row + "\n";
    return all;
  }
  // The screen with its colours and attributes as escape sequences.
  std::string StyledScreen() { return Tmux("capture-pane -p -e"); }
  std::string LastRow() {
    const std::vector<std::string> rows = Rows();
    return rows.empty() ? std::string() : rows.back();
  }
  std::string Title() { return Tmux("display-message -p '#{pane_title}'"); }

  // Whether the screen comes to show text within limit.
  bool WaitFor(const std::string& text,
               std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    return WaitUntil([&] { return Screen().find(text) != std::string::npos; }, limit);
  }
  template <typename Condition>
  bool WaitUntil(Condition condition, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
      if (condition()) return true;
      if (Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

 private:
  static std::string Quote(const std::string& word) {
    std::string quoted = "'";
    for (const char c : word) {
      if (c == '\'') {
        quoted += "'\\''";
      } else {
        quoted += c;
      }
    }
    return quoted + "'";
  }

  // One tmux command on the test's own server; its output.
  std::string Tmux(const std::string& arguments) {
    const std::string command =
        "timeout 10 tmux -u -S " + Quote(socket_) + " -f /dev/null " + arguments + " 2>&1";
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
      char buffer[4096];
      std::size_t count = 0;
      while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, count);
      ::pclose(pipe);
    }
    return output;
  }

  std::string socket_;
  pid_t server_ = -1;
};

}  // namespace orv::client_test
