#include "net/engine_host.h"

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/signal_set.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <future>
#include <optional>
#include <thread>
#include <utility>

#include "console/clock.h"
#include "console/version.h"
#include "moderation/mac_lookup.h"
#include "net/asio_network.h"
#include "net/asio_scheduler.h"
#include "server/chat_server.h"

namespace orv {

namespace {

// How long Shutdown waits for the connections to take their last output. Each connection
// gives up by itself after two seconds; this is the outer bound.
constexpr auto kDrainLimit = std::chrono::milliseconds(2500);

// How often the engine looks whether memory can be given back after a burst, and how much
// output in one such period makes a burst.
constexpr auto kMemoryCheckPeriod = std::chrono::milliseconds(500);
constexpr std::uint64_t kBurstBytes = std::uint64_t{1} << 20;

}  // namespace

struct EngineHost::Impl {
  explicit Impl(EngineOptions engineOptions) : options(std::move(engineOptions)) {}

  void Run();
  void ArmSignals();
  void Build();
  void TearDown();
  void ArmMemoryCheck();

  EngineOptions options;
  asio::io_context io{1};
  asio::executor_work_guard<asio::io_context::executor_type> work{io.get_executor()};
  std::thread thread;
  std::function<void()> signalHandler;
  std::atomic<bool> started{false};
  std::atomic<bool> shutDown{false};

  // Engine-thread state, built and destroyed there.
  std::optional<asio::signal_set> signals;
  std::unique_ptr<SystemClock> clock;
  std::unique_ptr<AsioScheduler> scheduler;
  std::unique_ptr<AsioNetwork> network;
  std::unique_ptr<ChatServer> server;
  std::optional<asio::steady_timer> memoryCheck;
  std::uint64_t writtenAtLastCheck = 0;
  bool burstSeen = false;
};

namespace {
// The host whose engine runs on this thread, if any.
thread_local const void* tCurrentEngine = nullptr;
}  // namespace

void EngineHost::Impl::Run() {
  tCurrentEngine = this;
  // A handler that throws must not take the server down with it: report and go on.
  for (;;) {
    try {
      io.run();
      break;
    } catch (const std::exception& error) {
      std::fprintf(stderr, "orvchatserver: unexpected error on the engine thread: %s\n",
                   error.what());
    } catch (...) {
      std::fprintf(stderr, "orvchatserver: unexpected error on the engine thread\n");
    }
  }
  tCurrentEngine = nullptr;
}

void EngineHost::Impl::ArmSignals() {
  if (!signals) return;
  signals->async_wait([this](const std::error_code& error, int number) {
    if (error) return;
#if defined(SIGHUP)
    if (number == SIGHUP) {
      // Reloading is the engine's own business; no front-end needs to take part.
      if (server) server->Reload();
      ArmSignals();
      return;
    }
#else
    (void)number;
#endif
    if (signalHandler) signalHandler();
    ArmSignals();
  });
}

void EngineHost::Impl::Build() {
  clock = std::make_unique<SystemClock>();
  scheduler = std::make_unique<AsioScheduler>(io);
  network = std::make_unique<AsioNetwork>(io, options.writeLimitBytes);
  ServerEnvironment env;
  env.workDir = options.workDir;
  env.clock = clock.get();
  env.scheduler = scheduler.get();
  env.network = network.get();
  env.codec = options.codec;
  // The stop command takes the way the stop signals take.
  env.requestStop = [this] {
    if (signalHandler) signalHandler();
  };
  env.lookupMac = [](const std::string& ip) { return LookupMacAddress(ip); };
  env.programVersion = ProgramVersion();
  server = std::make_unique<ChatServer>(std::move(env));
  for (auto& subscriber : options.subscribers)
    server->Subscribe(std::move(subscriber));
  options.subscribers.clear();
  server->StartServer();
  memoryCheck.emplace(io);
  ArmMemoryCheck();
}

void EngineHost::Impl::ArmMemoryCheck() {
  memoryCheck->expires_after(kMemoryCheckPeriod);
  memoryCheck->async_wait([this](const std::error_code& error) {
    if (error || !network) return;
    // Memory goes back once a burst of output is over: while it lasts, what it frees is
    // soon used again, and an idle server does nothing here at all.
    const std::uint64_t written = network->BytesWritten();
    const std::uint64_t lately = written - writtenAtLastCheck;
    writtenAtLastCheck = written;
    if (lately >= kBurstBytes) {
      burstSeen = true;
    } else if (burstSeen) {
      burstSeen = false;
      network->ReleaseIdleMemory();
      if (options.releaseFreeMemory) options.releaseFreeMemory();
    }
    ArmMemoryCheck();
  });
}

void EngineHost::Impl::TearDown() {
  memoryCheck.reset();
  // The server goes first: it refers to the scheduler, the network and the clock.
  server.reset();
  scheduler.reset();
  network.reset();
  clock.reset();
  signals.reset();
}

EngineHost::EngineHost(EngineOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

EngineHost::~EngineHost() {
  Shutdown();
}

void EngineHost::Start() {
  if (impl_->started.exchange(true) || impl_->shutDown) return;
  Impl& impl = *impl_;
  // Signals become loop events; the real signal handler only wakes the loop.
  impl.signals.emplace(impl.io, SIGINT, SIGTERM);
#if defined(SIGHUP)
  impl.signals->add(SIGHUP);
#endif
  impl.ArmSignals();

  std::promise<void> ready;
  asio::post(impl.io, [&impl, &ready] {
    try {
      impl.Build();
      ready.set_value();
    } catch (...) {
      ready.set_exception(std::current_exception());
    }
  });
  impl.thread = std::thread([&impl] { impl.Run(); });
  ready.get_future().get();
  // A reload or stop that arrived during the start is taken now, by the engine that exists.
  if (impl.options.signalsArmed) impl.options.signalsArmed();
}

void EngineHost::Post(std::function<void(ChatServer&)> fn) {
  if (!fn) return;
  asio::post(impl_->io, [impl = impl_.get(), fn = std::move(fn)] {
    if (impl->server) fn(*impl->server);
  });
}

void EngineHost::Execute(OperatorCommand command, std::function<void(Outcome)> done) {
  if (impl_->shutDown) {
    if (done) done(Outcome{false, false, {"The server is shutting down."}, {}, {}, {}});
    return;
  }
  asio::post(impl_->io, [impl = impl_.get(), command = std::move(command),
                         done = std::move(done)]() mutable {
    Outcome outcome = impl->server ? impl->server->Execute(command)
                                   : Outcome{false, false, {"The server has stopped."}, {}, {}, {}};
    if (done) done(std::move(outcome));
  });
}

void EngineHost::Subscribe(std::shared_ptr<EventSubscriber> subscriber) {
  if (!subscriber) return;
  asio::post(impl_->io, [impl = impl_.get(), subscriber = std::move(subscriber)]() mutable {
    if (impl->server) impl->server->Subscribe(std::move(subscriber));
  });
}

bool EngineHost::IsEngineThread() const {
  return tCurrentEngine == impl_.get();
}

void EngineHost::SetSignalHandler(std::function<void()> handler) {
  impl_->signalHandler = std::move(handler);
}

void EngineHost::Shutdown() {
  Impl& impl = *impl_;
  if (IsEngineThread()) {
    // The engine thread cannot join itself; the call must come from another thread.
    std::fprintf(stderr, "orvchatserver: Shutdown called on the engine thread, ignored\n");
    return;
  }
  if (impl.shutDown.exchange(true)) return;
  if (!impl.started || !impl.thread.joinable()) return;

  // The close message goes out, then every connection writes what it holds and closes.
  auto drained = std::make_shared<std::promise<void>>();
  asio::post(impl.io, [&impl, drained] {
    if (impl.signals) {
      std::error_code ignored;
      impl.signals->cancel(ignored);
    }
    if (impl.server) impl.server->ShutdownServer();
    if (!impl.network) {
      drained->set_value();
      return;
    }
    impl.network->StopListening();
    impl.network->CloseAll();
    impl.network->WhenAllClosed([drained] { drained->set_value(); });
  });
  drained->get_future().wait_for(kDrainLimit);

  std::promise<void> tornDown;
  asio::post(impl.io, [&impl, &tornDown] {
    impl.TearDown();
    tornDown.set_value();
  });
  tornDown.get_future().wait();
  if (impl.options.signalsDisarmed) impl.options.signalsDisarmed();

  impl.work.reset();
  impl.io.stop();
  impl.thread.join();
}

}  // namespace orv
