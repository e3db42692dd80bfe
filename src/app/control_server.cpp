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

#include <chrono>
#include <cstdint>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "app/control_protocol.h"

namespace orv {

#if defined(ORV_CONTROL_SOCKETS)

namespace {

using Local = asio::local::stream_protocol;

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
  };

  Impl(EngineCommands& commands, std::function<void()> stop)
      : engine(commands), requestStop(std::move(stop)) {}

  void Accept();
  void Begin(Local::socket socket);
  void OnRequest(std::uint64_t id, const std::string& line);
  void Deliver(std::uint64_t id, ControlAnswer answer);
  void End(std::uint64_t id);
  void CloseAll();

  // Answers come from the engine thread; they are posted here only while the channel is
  // open, so nothing is ever posted to a finished io_context.
  void PostAnswer(std::uint64_t id, ControlAnswer answer) {
    std::lock_guard lock(postMutex);
    if (!open) return;
    asio::post(io, [self = shared_from_this(), id, answer = std::move(answer)]() mutable {
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
  std::weak_ptr<Impl> weak = shared_from_this();
  ExecuteControlRequest(
      engine, line,
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

void ControlServer::Impl::End(std::uint64_t id) {
  const auto found = sessions.find(id);
  if (found == sessions.end()) return;
  Session& session = *found->second;
  std::error_code ignored;
  session.deadline.cancel();
  session.socket.shutdown(Local::socket::shutdown_both, ignored);
  session.socket.close(ignored);
  sessions.erase(found);
}

void ControlServer::Impl::CloseAll() {
  std::error_code ignored;
  acceptRetry.cancel();
  if (acceptor) acceptor->close(ignored);
  while (!sessions.empty())
    End(sessions.begin()->first);
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
  std::error_code fsError;
  const auto status = std::filesystem::symlink_status(path, fsError);
  if (std::filesystem::exists(status)) {
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
  asio::post(impl->io, [impl] { impl->CloseAll(); });
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
