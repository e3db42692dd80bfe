#include "app/control_server.h"

#include "app/control_sockets.h"

#if defined(ORV_CONTROL_SOCKETS)
#include <asio/buffers_iterator.hpp>
#include <asio/error.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/local/stream_protocol.hpp>
#include <asio/post.hpp>
#include <asio/read_until.hpp>
#include <asio/steady_timer.hpp>
#include <asio/streambuf.hpp>
#include <asio/write.hpp>
#endif

#include <array>
#include <atomic>

#include <chrono>
#include <cstdint>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "app/control_protocol.h"
#include "app/event_queue.h"
#if defined(ORV_CONTROL_SOCKETS)
#include "app/control_trust.h"
#endif

namespace orv {

#if defined(ORV_CONTROL_SOCKETS)

namespace {

using Local = asio::local::stream_protocol;

// A follower is dropped when this many events wait for it (a login storm of a few thousand
// users fits), or when what is written to it has not gone for this long: the server never
// waits for a follower, nor holds its events without bound (at most the queue's and one
// write's worth).
constexpr std::size_t kFollowerBacklog = 4096;
constexpr auto kFollowerStall = std::chrono::seconds(30);
// When the channel closes, followers get their last lines within this time.
constexpr auto kFollowerGoodbye = std::chrono::seconds(1);

// A request is one short line; a peer that sends more, or takes longer, is dropped.
constexpr std::size_t kLongestRequest = 64 * 1024;
constexpr auto kSessionLimit = std::chrono::seconds(30);

// How long the acceptor waits before it tries again after a failure that does not belong
// to one connection (no descriptor left): it would fail at once again, spinning.
constexpr auto kAcceptRetry = std::chrono::milliseconds(100);

// Failures of the one connection being accepted: the next may do better at once.
bool IsPerConnectionError(const std::error_code& error) {
  return error == asio::error::connection_aborted || error == asio::error::connection_reset ||
         error == asio::error::try_again || error == asio::error::would_block ||
         error == asio::error::interrupted;
}

}  // namespace

struct ControlServer::Impl : std::enable_shared_from_this<ControlServer::Impl> {
  struct Session {
    Session(Local::socket s, asio::io_context& io) : socket(std::move(s)), deadline(io) {}
    Local::socket socket;
    asio::streambuf input{kLongestRequest};
    asio::steady_timer deadline;
    std::string output;
    bool stopAfterAnswer = false;
    // A follower's: the queue the engine fills, the lines waiting for the write in flight,
    // and whether its last lines are on their way.
    std::shared_ptr<EventQueue> events;
    bool json = false;
    bool writing = false;
    bool ending = false;
    std::string waiting;
    std::array<char, 256> discarded{};  // what a follower sends after its request
  };

  Impl(EngineCommands& commands, std::function<void()> stop)
      : engine(commands), requestStop(std::move(stop)) {}

  void Accept();
  void Begin(Local::socket socket);
  void OnRequest(std::uint64_t id, const std::string& line);
  void Deliver(std::uint64_t id, ControlAnswer answer);
  void Follow(std::uint64_t id, bool json);
  void WatchFollower(std::uint64_t id);
  void Pump(std::uint64_t id);
  void End(std::uint64_t id);
  void Finish();
  void CloseAll();

  // Answers and events come from the engine thread; they are posted here only while the
  // channel is open, so nothing is ever posted to a finished io_context.
  template <typename Fn>
  void PostToChannel(Fn fn) {
    std::lock_guard lock(postMutex);
    if (!open) return;
    asio::post(io, std::move(fn));
  }
  void PostAnswer(std::uint64_t id, ControlAnswer answer) {
    PostToChannel([self = shared_from_this(), id, answer = std::move(answer)]() mutable {
      self->Deliver(id, std::move(answer));
    });
  }

  EngineCommands& engine;
  std::function<void()> requestStop;
  asio::io_context io{1};
  asio::executor_work_guard<asio::io_context::executor_type> work{io.get_executor()};
  std::optional<Local::acceptor> acceptor;
  asio::steady_timer acceptRetry{io};
  std::thread thread;
  std::mutex postMutex;
  bool open = true;
  // The channel thread's own state.
  std::map<std::uint64_t, std::shared_ptr<Session>> sessions;
  std::uint64_t nextId = 1;
  bool closing = false;  // Stop was called: followers get their last lines
  asio::steady_timer goodbye{io};
};

void ControlServer::Impl::Accept() {
  acceptor->async_accept(
      [self = shared_from_this()](const std::error_code& error, Local::socket socket) {
        if (!self->acceptor || !self->acceptor->is_open()) return;
        if (!error) self->Begin(std::move(socket));
        if (!error || IsPerConnectionError(error)) {
          self->Accept();
          return;
        }
        // Out of descriptors, say: the request waits in the backlog and is taken once one
        // is free, as the chat listener does.
        self->acceptRetry.expires_after(kAcceptRetry);
        self->acceptRetry.async_wait([self](const std::error_code& waitError) {
          if (!waitError && self->acceptor && self->acceptor->is_open()) self->Accept();
        });
      });
}

void ControlServer::Impl::Begin(Local::socket socket) {
  const std::uint64_t id = nextId++;
  auto session = std::make_shared<Session>(std::move(socket), io);
  sessions.emplace(id, session);
  session->deadline.expires_after(kSessionLimit);
  session->deadline.async_wait([self = shared_from_this(), id](const std::error_code& error) {
    if (!error) self->End(id);
  });
  asio::async_read_until(
      session->socket, session->input, '\n',
      [self = shared_from_this(), id, session](const std::error_code& error, std::size_t length) {
        if (self->sessions.count(id) == 0) return;
        if (error) {
          self->End(id);
          return;
        }
        const auto begin = asio::buffers_begin(session->input.data());
        std::string line(begin, begin + static_cast<std::ptrdiff_t>(length - 1));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        self->OnRequest(id, line);
      });
}

void ControlServer::Impl::OnRequest(std::uint64_t id, const std::string& line) {
  const std::shared_ptr<Session> session = sessions.at(id);
  const ControlRequest request = ReadControlRequest(line);
  if (request.kind == ControlRequest::Kind::kFollow) {
    Follow(id, request.json);
    return;
  }
  std::weak_ptr<Impl> weak = shared_from_this();
  ExecuteControlRequest(
      engine, request,
      [weak, id](ControlAnswer answer) {
        if (auto self = weak.lock()) self->PostAnswer(id, std::move(answer));
      },
      [session] { session->stopAfterAnswer = true; });
}

void ControlServer::Impl::Deliver(std::uint64_t id, ControlAnswer answer) {
  const auto found = sessions.find(id);
  if (found == sessions.end()) return;
  const std::shared_ptr<Session> session = found->second;
  session->output = EncodeControlAnswer(answer);
  asio::async_write(session->socket, asio::buffer(session->output),
                    [self = shared_from_this(), id, session](const std::error_code&, std::size_t) {
                      const bool stop = session->stopAfterAnswer;
                      self->End(id);
                      if (stop && self->requestStop) self->requestStop();
                    });
}

void ControlServer::Impl::Follow(std::uint64_t id, bool json) {
  const std::shared_ptr<Session> session = sessions.at(id);
  // A stream has no time limit; only a stalled write ends it.
  session->deadline.expires_at(asio::steady_timer::time_point::max());
  session->json = json;
  // The engine wakes the channel at most once per batch of events: one post, however many
  // events come before the channel takes them.
  auto wakePosted = std::make_shared<std::atomic<bool>>(false);
  std::weak_ptr<Impl> weak = shared_from_this();
  EventQueue::Options options;
  options.capacity = kFollowerBacklog;
  options.wake = [weak, id, wakePosted] {
    if (wakePosted->exchange(true)) return;
    if (auto self = weak.lock()) {
      self->PostToChannel([self, id, wakePosted] {
        wakePosted->store(false);
        self->Pump(id);
      });
    }
  };
  session->events = std::make_shared<EventQueue>(std::move(options));
  WatchFollower(id);
  engine.Subscribe(session->events);
  // A command given after the subscription is answered after it is in: from the greeting on,
  // the follower misses nothing.
  engine.Execute(command::Status{}, [weak, id](const Outcome&) {
    if (auto self = weak.lock()) {
      self->PostToChannel([self, id] {
        const auto found = self->sessions.find(id);
        if (found == self->sessions.end()) return;
        found->second->waiting +=
            "err following the server's console lines and users; Ctrl+C ends\n";
        self->Pump(id);
      });
    }
  });
}

// A follower sends nothing after its request; reading tells when it goes away.
void ControlServer::Impl::WatchFollower(std::uint64_t id) {
  const std::shared_ptr<Session> session = sessions.at(id);
  session->socket.async_read_some(
      asio::buffer(session->discarded),
      [self = shared_from_this(), id, session](const std::error_code& error, std::size_t) {
        if (self->sessions.count(id) == 0) return;
        if (error) {
          self->End(id);
        } else {
          self->WatchFollower(id);
        }
      });
}

// Writes what waits for a follower: one write in flight, and the events stay in the bounded
// queue meanwhile, so one that reads slowly is dropped rather than held in memory here.
void ControlServer::Impl::Pump(std::uint64_t id) {
  const auto found = sessions.find(id);
  if (found == sessions.end()) return;
  const std::shared_ptr<Session> session = found->second;
  if (!session->events || session->writing || session->ending) return;
  const bool dropped = session->events->Dropped();
  for (const EngineEvent& event : session->events->TakeAll()) {
    for (const std::string& line : FollowLines(event, session->json))
      session->waiting += "out " + line + "\n";
  }
  if (dropped || closing) {
    ControlAnswer last;
    if (dropped) {
      last.status = kControlRefused;
      last.Err("fell behind: more than " + std::to_string(kFollowerBacklog) +
               " events waited to be read, and the server does not wait for a follower; it "
               "was dropped");
    } else {
      last.Err("the server is stopping; nothing more follows");
    }
    session->waiting += EncodeControlAnswer(last);
    session->ending = true;
    session->events->Close();
  }
  if (session->waiting.empty()) return;
  session->output = std::move(session->waiting);
  session->waiting.clear();
  session->writing = true;
  session->deadline.expires_after(kFollowerStall);
  session->deadline.async_wait([self = shared_from_this(), id](const std::error_code& error) {
    if (!error) self->End(id);
  });
  asio::async_write(
      session->socket, asio::buffer(session->output),
      [self = shared_from_this(), id, session](const std::error_code& error, std::size_t) {
        session->writing = false;
        if (self->sessions.count(id) == 0) return;
        session->deadline.expires_at(asio::steady_timer::time_point::max());
        if (error || session->ending) {
          self->End(id);
        } else {
          self->Pump(id);
        }
      });
}

void ControlServer::Impl::End(std::uint64_t id) {
  const auto found = sessions.find(id);
  if (found == sessions.end()) return;
  Session& session = *found->second;
  std::error_code ignored;
  session.deadline.cancel();
  // The engine lets go of a follower's queue at its next event.
  if (session.events) session.events->Close();
  session.socket.shutdown(Local::socket::shutdown_both, ignored);
  session.socket.close(ignored);
  sessions.erase(found);
  if (closing && sessions.empty()) goodbye.cancel();
}

void ControlServer::Impl::CloseAll() {
  std::error_code ignored;
  acceptRetry.cancel();
  if (acceptor) acceptor->close(ignored);
  while (!sessions.empty())
    End(sessions.begin()->first);
}

// The channel closes: no more requests, unanswered ones are dropped, and followers get what
// waits for them and their last lines, within kFollowerGoodbye.
void ControlServer::Impl::Finish() {
  closing = true;
  std::error_code ignored;
  if (acceptor) acceptor->close(ignored);
  std::vector<std::uint64_t> ids;
  for (const auto& [id, session] : sessions)
    ids.push_back(id);
  for (const std::uint64_t id : ids) {
    const auto found = sessions.find(id);
    if (found == sessions.end()) continue;
    if (found->second->events) {
      Pump(id);
    } else {
      End(id);
    }
  }
  if (sessions.empty()) {
    CloseAll();
    return;
  }
  goodbye.expires_after(kFollowerGoodbye);
  goodbye.async_wait([self = shared_from_this()](const std::error_code&) { self->CloseAll(); });
}

ControlServer::ControlServer(EngineCommands& engine, std::function<void()> requestStop)
    : engine_(engine), requestStop_(std::move(requestStop)) {}

ControlServer::~ControlServer() {
  Stop();
}

bool ControlServer::Start(const std::filesystem::path& path, std::string* error) {
  auto fail = [error](std::string text) {
    if (error) *error = std::move(text);
    return false;
  };
  if (impl_) return fail("the control socket is open already");
  const ControlFolderCheck folder = CheckControlSocketFolder(path);
  if (!folder.problem.empty())
    return fail("no control socket at " + path.string() + ": " + folder.problem);
  std::error_code fsError;
  const auto status = std::filesystem::symlink_status(path, fsError);
  if (std::filesystem::exists(status)) {
    // Where others may put files, one that another user put here is neither used nor
    // replaced: the server uses only a socket it makes itself.
    const std::string owner = folder.shared ? ForeignOwner(path) : std::string();
    if (!owner.empty()) {
      return fail(path.string() + " belongs to " + owner + ", not to this server; in the folder " +
                  folder.sharedFolder +
                  ", the server uses only a socket it made itself: remove that file or give "
                  "another path with --control");
    }
    if (!std::filesystem::is_socket(status)) {
      return fail(path.string() +
                  " is in the way of the control socket and is not a socket; remove it or give "
                  "another path with --control");
    }
    asio::io_context probe;
    Local::socket socket(probe);
    std::error_code connectError;
    try {
      socket.connect(Local::endpoint(path.string()), connectError);
    } catch (const std::exception&) {
      connectError = std::make_error_code(std::errc::filename_too_long);
    }
    if (!connectError) {
      return fail("another server answers on the control socket " + path.string() +
                  "; give this one another path with --control");
    }
    // Left behind by a server that ended without cleaning up.
    std::filesystem::remove(path, fsError);
  }

  auto impl = std::make_shared<Impl>(engine_, requestStop_);
  try {
    impl->acceptor.emplace(impl->io);
    impl->acceptor->open(Local());
    impl->acceptor->bind(Local::endpoint(path.string()));
    impl->acceptor->listen();
  } catch (const std::exception& failure) {
    return fail("cannot open the control socket " + path.string() + ": " + failure.what());
  }
  // What is at the path now must be the socket this server has just made.
  if (!IsOwnSocket(path)) {
    return fail("the control socket " + path.string() +
                " was replaced by another file as soon as it was made; it is not used");
  }
  // Whoever may write the socket is an operator: its owner and its group, nobody else.
  using std::filesystem::perms;
  std::filesystem::permissions(
      path, perms::owner_read | perms::owner_write | perms::group_read | perms::group_write,
      std::filesystem::perm_options::replace, fsError);
  if (fsError) {
    std::filesystem::remove(path, fsError);
    return fail("cannot limit the control socket " + path.string() +
                " to its owner and group: " + fsError.message());
  }
  path_ = path;
  impl_ = impl;
  impl->Accept();
  impl->thread = std::thread([impl] { impl->io.run(); });
  return true;
}

void ControlServer::Stop() {
  if (!impl_) return;
  const std::shared_ptr<Impl> impl = std::move(impl_);
  {
    std::lock_guard lock(impl->postMutex);
    impl->open = false;
  }
  asio::post(impl->io, [impl] { impl->Finish(); });
  impl->work.reset();
  if (impl->thread.joinable()) impl->thread.join();
  // What the closing left queued (handlers of closed sockets) holds the Impl: run it out.
  impl->io.restart();
  impl->io.poll();
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
}

#else

struct ControlServer::Impl {};

ControlServer::ControlServer(EngineCommands& engine, std::function<void()> requestStop)
    : engine_(engine), requestStop_(std::move(requestStop)) {}

ControlServer::~ControlServer() = default;

bool ControlServer::Start(const std::filesystem::path&, std::string* error) {
  if (error) *error = "this system offers no local sockets, so the server has no control socket";
  return false;
}

void ControlServer::Stop() {}

#endif

}  // namespace orv
