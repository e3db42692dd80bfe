// Fakes for driving the engine in-process without a network or a clock of its own: fake
// connections that record what they are sent, a manual scheduler, a network that only
// remembers where it was asked to listen, a view that records what it is shown, and the
// engine's surroundings made of them. Used by
// the engine tests and the engine fuzz target; nothing here depends on a test framework.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "server/chat_server.h"
#include "server/connection.h"
#include "server/network.h"
#include "server/operator_values.h"
#include "server/scheduler.h"

namespace orv::testing {

struct Output {
  enum Kind { kSend, kHold, kClose } kind;
  std::string bytes;    // encoded, as sent
  std::int64_t at = 0;  // manual-clock time of the call, ms
};

class FakeScheduler final : public Scheduler {
 public:
  TimerId RunAfter(std::chrono::milliseconds delay, std::function<void()> task) override {
    const TimerId id = ++next_;
    tasks_[id] = {now_ + delay.count(), std::move(task)};
    return id;
  }
  void Cancel(TimerId id) override { tasks_.erase(id); }
  // Moves the clock forward, running every task that falls due, in time order.
  void Advance(std::int64_t ms) {
    const std::int64_t target = now_ + ms;
    for (;;) {
      auto due = tasks_.end();
      for (auto it = tasks_.begin(); it != tasks_.end(); ++it) {
        if (it->second.at <= target && (due == tasks_.end() || it->second.at < due->second.at)) {
          due = it;
        }
      }
      if (due == tasks_.end()) break;
      now_ = due->second.at;
      auto task = std::move(due->second.task);
      tasks_.erase(due);
      task();
    }
    now_ = target;
  }
  std::int64_t Now() const { return now_; }
  std::chrono::milliseconds SteadyNow() const override { return std::chrono::milliseconds(now_); }
  std::size_t Pending() const { return tasks_.size(); }

 private:
  struct Task {
    std::int64_t at;
    std::function<void()> task;
  };
  std::map<TimerId, Task> tasks_;
  TimerId next_ = 0;
  std::int64_t now_ = 0;
};

class FakeConnection final : public Connection {
 public:
  FakeConnection(std::int32_t key, std::string peer, const FakeScheduler& clock)
      : key_(key), peer_(std::move(peer)), clock_(clock) {}
  ConnectionKey Key() const override { return ConnectionKey{key_}; }
  const std::string& PeerAddress() const override { return peer_; }
  const std::string& LocalAddress() const override { return local; }
  void Send(SharedBytes bytes) override {
    if (closed) return;
    if (!waiting_.empty()) {
      waiting_.push_back({std::move(bytes), nullptr});
      return;
    }
    outputs.push_back({Output::kSend, *bytes, clock_.Now()});
  }
  // Takes the whole of what the source makes at once, one send per piece; with
  // deferSources, the source and what is sent after it wait for DrainSources.
  void SendFrom(std::unique_ptr<OutputSource> source) override {
    if (closed) return;
    if (deferSources || !waiting_.empty()) {
      waiting_.push_back({nullptr, std::move(source)});
      return;
    }
    Take(*source);
  }
  // Writes what waits behind deferred sources, in order, as a reader that was slow to take
  // it would have it written: later, when users may have come and gone, the engine may be
  // gone, and even when the connection was closed meanwhile.
  void DrainSources() {
    auto waiting = std::move(waiting_);
    waiting_.clear();
    for (auto& item : waiting) {
      if (item.source) {
        Take(*item.source);
      } else {
        outputs.push_back({Output::kSend, *item.bytes, clock_.Now()});
      }
    }
  }
  std::size_t Waiting() const { return waiting_.size(); }
  void HoldOutput(std::chrono::milliseconds duration) override {
    outputs.push_back({Output::kHold, std::to_string(duration.count()), clock_.Now()});
  }
  void Close() override {
    closed = true;
    outputs.push_back({Output::kClose, {}, clock_.Now()});
  }
  // The encoded bytes of every Send, in order.
  std::vector<std::string> Sent() const {
    std::vector<std::string> sent;
    for (const auto& o : outputs) {
      if (o.kind == Output::kSend) sent.push_back(o.bytes);
    }
    return sent;
  }

  std::vector<Output> outputs;
  std::string local = "127.0.0.1";  // the address the peer reached
  bool closed = false;
  bool deferSources = false;

 private:
  struct Queued {
    SharedBytes bytes;
    std::unique_ptr<OutputSource> source;
  };
  void Take(OutputSource& source) {
    for (bool more = true; more;) {
      std::string piece;
      more = source.Next(piece);
      if (!piece.empty()) outputs.push_back({Output::kSend, piece, clock_.Now()});
    }
  }

  std::vector<Queued> waiting_;
  std::int32_t key_;
  std::string peer_;
  const FakeScheduler& clock_;
};

class FakeNetwork final : public Network {
 public:
  bool Listen(const std::string& address, std::int32_t port, ConnectionEvents&,
              std::string* error) override {
    listenedAddress = address;
    listenedPort = port;
    if (fail && error) *error = "cannot listen on " + address;
    return !fail;
  }
  bool fail = false;
  std::string listenedAddress;
  std::int32_t listenedPort = -1;
};

// Keeps what the engine publishes: the console, the last list and status, the texts, and the
// user events in order ("joined alice", "changed alice", "left alice").
class RecordingView final : public EventSubscriber {
 public:
  void OnEvent(const EngineEvent& event) override {
    if (const auto* e = std::get_if<event::ConsoleLine>(&event)) {
      console.push_back(e->text);
    } else if (std::holds_alternative<event::ConsoleCleared>(event)) {
      console.clear();
    } else if (const auto* e = std::get_if<event::UserList>(&event)) {
      rows = e->rows;
      ++rowUpdates;
    } else if (const auto* e = std::get_if<event::Tooltip>(&event)) {
      tooltip = e->text;
    } else if (const auto* e = std::get_if<event::Title>(&event)) {
      title = e->text;
    } else if (const auto* e = std::get_if<event::Texts>(&event)) {
      texts = e->texts;
    } else if (const auto* e = std::get_if<event::Status>(&event)) {
      status = e->status;
    } else if (const auto* e = std::get_if<event::UserJoined>(&event)) {
      userEvents.push_back("joined " + e->user.name);
    } else if (const auto* e = std::get_if<event::UserChanged>(&event)) {
      userEvents.push_back("changed " + e->user.name);
    } else if (const auto* e = std::get_if<event::UserLeft>(&event)) {
      userEvents.push_back("left " + e->user.name);
    }
  }
  // Console lines without their "[HH:MM:SS] " stamp.
  std::vector<std::string> Unstamped() const {
    std::vector<std::string> lines;
    for (const auto& l : console)
      lines.push_back(l.rfind("[13:05:09] ", 0) == 0 ? l.substr(11) : l);
    return lines;
  }
  bool HasLine(const std::string& text) const {
    for (const auto& l : Unstamped()) {
      if (l == text) return true;
    }
    return false;
  }
  // Console lines that contain text.
  int CountLines(const std::string& text) const {
    int n = 0;
    for (const auto& l : console)
      n += l.find(text) != std::string::npos ? 1 : 0;
    return n;
  }

  std::vector<std::string> console;
  std::vector<UserRow> rows;
  int rowUpdates = 0;
  std::string tooltip;
  std::string title;
  ViewTexts texts;
  ServerStatus status;
  std::vector<std::string> userEvents;
};

// The engine's surroundings made of the fakes, working in dir: the MAC lookup hands the
// address back (as the system's does when it finds nothing), the version is fixed.
inline ServerEnvironment FakeEnvironment(const std::filesystem::path& dir, const Clock& clock,
                                         FakeScheduler& scheduler, FakeNetwork& network) {
  ServerEnvironment env;
  env.workDir = dir;
  env.clock = &clock;
  env.scheduler = &scheduler;
  env.network = &network;
  env.lookupMac = [](const std::string& ip) { return ip; };
  env.machineAddresses = [] { return std::vector<std::string>{"192.168.5.1", "10.1.1.1"}; };
  env.programVersion = "1.3.1.0";
  return env;
}

}  // namespace orv::testing
