// Owns the engine thread: an Asio io_context running on one thread, the ChatServer that
// lives on it, the listener and the connections. Other threads only post work to it.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>

#include <vector>

#include "protocol/wire_codec.h"
#include "server/engine_event.h"
#include "server/operator_command.h"

namespace orv {

class ChatServer;

// Output queued for one client before it is disconnected, unless the operator says otherwise.
inline constexpr std::size_t kDefaultWriteLimitBytes = std::size_t{1} << 20;

struct EngineOptions {
  std::filesystem::path workDir;
  WireCodec codec = WireCodec::BuiltIn();
  std::size_t writeLimitBytes = kDefaultWriteLimitBytes;  // per-connection write queue bound
  // Subscribed before the start, so that they see the banner and the settings report.
  std::vector<std::shared_ptr<EventSubscriber>> subscribers;
  // Called on the engine thread about once a second while much output goes out (a login
  // storm, long user lists): the front-end passes a function that hands memory the
  // allocator keeps after such a burst back to the system. Empty: nothing is done.
  std::function<void()> releaseFreeMemory;
  // Called on the thread that calls Start once SIGINT, SIGTERM and SIGHUP are events of the
  // engine's loop, and on the thread that calls Shutdown once they are no longer: the
  // front-end holds those signals back until the first and ignores them after the second,
  // so that none arriving while the program starts or ends can kill it. Empty: nothing.
  std::function<void()> signalsArmed;
  std::function<void()> signalsDisarmed;
};

class EngineHost {
 public:
  explicit EngineHost(EngineOptions options);
  // Shuts down (as Shutdown) if that has not happened yet.
  ~EngineHost();
  EngineHost(const EngineHost&) = delete;
  EngineHost& operator=(const EngineHost&) = delete;

  // Starts the engine thread, builds the ChatServer there and runs its start-up sequence.
  void Start();

  // Entry point 1 for other threads: runs fn on the engine thread, in posting order.
  // Ignored once the engine has stopped.
  void Post(std::function<void(ChatServer&)> fn);
  // An operator command carried out on the engine thread, in posting order; done (when
  // given) gets its outcome there. After the engine has stopped, done gets a refusal at once.
  void Execute(OperatorCommand command, std::function<void(Outcome)> done = {});
  // Events from now on (posted like a command); a subscriber is dropped once it is no
  // longer Alive().
  void Subscribe(std::shared_ptr<EventSubscriber> subscriber);
  // Entry point 2: true on the engine thread.
  bool IsEngineThread() const;

  // Called on the engine thread when SIGINT or SIGTERM arrives, or the stop command is given
  // (set before Start). SIGHUP, where the system has it, reloads the settings by itself.
  void SetSignalHandler(std::function<void()> handler);

  // Runs ShutdownServer on the engine thread, lets queued output drain (at most about two
  // seconds), then stops and joins the thread. Blocks; a second call does nothing.
  void Shutdown();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace orv
