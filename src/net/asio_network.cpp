#include "net/asio_network.h"

#include <algorithm>
#include <asio/detail/socket_option.hpp>
#include <asio/error.hpp>
#include <asio/ip/address_v4.hpp>
#include <chrono>
#include <optional>
#include <system_error>
#include <utility>

#include "moderation/mac_lookup.h"
#include "net/asio_connection.h"
#include "net/connection_registry.h"
#include "net/write_batcher.h"

namespace orv {

namespace {

// Errors that belong to the one connection being accepted: try the next one at once.
bool IsPerConnectionError(const std::error_code& error) {
  return error == asio::error::connection_aborted || error == asio::error::connection_reset ||
         error == asio::error::try_again || error == asio::error::would_block ||
         error == asio::error::interrupted;
}

bool IsOutOfDescriptors(const std::error_code& error) {
  return error == asio::error::no_descriptors || error == std::errc::too_many_files_open ||
         error == std::errc::too_many_files_open_in_system;
}

#if defined(_WIN32)
// Windows takes the keep-alive timing (from Windows 10 1709 on) and the limit on
// unacknowledged output (from Vista on) under these numbers, which MinGW's headers lack;
// a version that does not know one refuses it and keeps its own timing.
#if !defined(TCP_KEEPIDLE)
#define TCP_KEEPIDLE 3
#define TCP_KEEPCNT 16
#define TCP_KEEPINTVL 17
#endif
#if !defined(TCP_MAXRT)
#define TCP_MAXRT 5
#endif
#endif

// A peer that vanished (power off, a pulled cable) is found within about two minutes: a
// probe after a minute of silence, then every ten seconds, six unanswered ones end the
// connection; unacknowledged output gives up after the same two minutes.
void KeepAlive(asio::ip::tcp::socket& socket) {
  std::error_code ignored;
  socket.set_option(asio::socket_base::keep_alive(true), ignored);
#if defined(TCP_KEEPIDLE) && defined(TCP_KEEPINTVL) && defined(TCP_KEEPCNT)
  socket.set_option(asio::detail::socket_option::integer<IPPROTO_TCP, TCP_KEEPIDLE>(60), ignored);
  socket.set_option(asio::detail::socket_option::integer<IPPROTO_TCP, TCP_KEEPINTVL>(10), ignored);
  socket.set_option(asio::detail::socket_option::integer<IPPROTO_TCP, TCP_KEEPCNT>(6), ignored);
#endif
#if defined(TCP_USER_TIMEOUT)
  socket.set_option(asio::detail::socket_option::integer<IPPROTO_TCP, TCP_USER_TIMEOUT>(120000),
                    ignored);
#elif defined(TCP_MAXRT)
  socket.set_option(asio::detail::socket_option::integer<IPPROTO_TCP, TCP_MAXRT>(120), ignored);
#endif
}

// Connections taken at once after an accept completes, before waiting again.
constexpr int kAcceptBurst = 64;

// The most a connection may send at once before the input rate holds it back.
constexpr std::int64_t kInputBurstBytes = std::int64_t{1} << 20;

}  // namespace

AsioNetwork::AsioNetwork(asio::io_context& io, std::size_t writeLimitBytes)
    : io_(io),
      writeLimit_(writeLimitBytes),
      registry_(std::make_shared<ConnectionRegistry>()),
      batcher_(std::make_shared<WriteBatcher>(io.get_executor())),
      retryTimer_(io),
      reserve_(io),
      alive_(std::make_shared<bool>(true)) {}

AsioNetwork::~AsioNetwork() {
  alive_.reset();
  StopListening();
}

bool AsioNetwork::Listen(const std::string& address, std::int32_t port, ConnectionEvents& events,
                         std::string* error) {
  auto fail = [error](std::string text) {
    if (error) *error = std::move(text);
    return false;
  };
  asio::ip::address_v4 local = asio::ip::address_v4::any();
  if (!address.empty()) {
    // Read here rather than by the system, whose readers differ: Windows takes "1.2.3"
    // for 1.2.0.3.
    const std::optional<std::uint32_t> parsed = ParseIpv4Text(address);
    if (!parsed) return fail("cannot read listening address '" + address + "'");
    local = asio::ip::address_v4(*parsed);
  }
  if (port < 0 || port > 65535) {
    return fail("cannot listen on port " + std::to_string(port) +
                ": a port must lie between 0 and 65535");
  }
  const asio::ip::tcp::endpoint endpoint(local, static_cast<std::uint16_t>(port));
  const std::string where = local.to_string() + ":" + std::to_string(port);

  StopListening();
  auto acceptor = std::make_unique<asio::ip::tcp::acceptor>(io_);
  std::error_code ec;
  const char* step = "open";
  acceptor->open(endpoint.protocol(), ec);
  if (!ec) {
#if defined(_WIN32)
    // Windows lets a second program bind a port that another listens on when both ask to
    // reuse addresses; exclusive use makes a second server fail there as it does elsewhere.
    step = "set the exclusive-address option on";
    acceptor->set_option(
        asio::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>(true), ec);
#else
    step = "set the reuse-address option on";
    acceptor->set_option(asio::socket_base::reuse_address(true), ec);
#endif
  }
  if (!ec) {
    step = "bind";
    acceptor->bind(endpoint, ec);
  }
  if (!ec) {
    step = "listen on";
    acceptor->listen(asio::socket_base::max_listen_connections, ec);
  }
  if (!ec) {
    // The rest of a burst is taken with direct accepts, which must not block when none
    // is left; the waiting accept goes through the reactor either way.
    step = "set non-blocking mode on";
    acceptor->non_blocking(true, ec);
  }
  if (ec) {
    return fail(std::string("cannot ") + step + " " + where + ": " + ec.message());
  }
  acceptor_ = std::move(acceptor);
  events_ = &events;
  OpenReserve();
  AcceptNext();
  return true;
}

void AsioNetwork::SetInputRate(std::int64_t bytesPerSecond) {
  InputLimit limit;
  if (bytesPerSecond > 0) {
    limit.bytesPerSecond = bytesPerSecond;
    limit.burstBytes =
        std::min(kInputBurstBytes, std::max(static_cast<std::int64_t>(WriteBatcher::kReceiveSize),
                                            static_cast<std::int64_t>(writeLimit_ / 2)));
  }
  registry_->SetInput(limit);
}

void AsioNetwork::OpenReserve() {
  if (reserve_.is_open()) return;
  std::error_code ignored;
  reserve_.open(asio::ip::udp::v4(), ignored);
}

void AsioNetwork::TurnAwayNewcomers() {
  std::error_code ignored;
  reserve_.close(ignored);
  for (int taken = 0; taken < kAcceptBurst; ++taken) {
    asio::ip::tcp::socket newcomer(io_);
    std::error_code error;
    acceptor_->accept(newcomer, error);
    if (!error) {
      // Closed before anything is read or written: the client learns at once that it
      // cannot be served now, and may come back later.
      newcomer.close(ignored);
      continue;
    }
    if (IsPerConnectionError(error) && error != asio::error::would_block &&
        error != asio::error::try_again) {
      continue;
    }
    // Nobody waits any more, or another thread took the descriptor meanwhile.
    break;
  }
  // When this fails, the next failure to accept goes the slow way (OnAccept).
  OpenReserve();
}

void AsioNetwork::WaitForNewcomer() {
  // With no descriptor left, accepting fails whether anybody waits or not: wait until
  // somebody does, then try.
  acceptor_->async_wait(
      asio::socket_base::wait_read, [this, alive = std::weak_ptr<bool>(alive_),
                                     acceptor = acceptor_.get()](const std::error_code& waitError) {
        if (alive.expired() || acceptor_.get() != acceptor) return;
        if (waitError == asio::error::operation_aborted) return;
        asio::ip::tcp::socket next(io_);
        std::error_code error = waitError;
        if (!error) acceptor_->accept(next, error);
        if (error == asio::error::would_block || error == asio::error::try_again) {
          WaitForNewcomer();
          return;
        }
        OnAccept(error, std::move(next));
      });
}

std::uint16_t AsioNetwork::LocalPort() const {
  if (!acceptor_) return 0;
  std::error_code ec;
  const auto endpoint = acceptor_->local_endpoint(ec);
  return ec ? 0 : endpoint.port();
}

void AsioNetwork::StopListening() {
  retryTimer_.cancel();
  if (!acceptor_) return;
  std::error_code ignored;
  acceptor_->close(ignored);
  // The aborted accept still refers to the acceptor; let it complete before freeing it.
  asio::post(io_, [old = std::shared_ptr<asio::ip::tcp::acceptor>(std::move(acceptor_))] {});
}

void AsioNetwork::CloseAll() {
  registry_->CloseAll();
}

std::size_t AsioNetwork::OpenConnections() const {
  return registry_->OpenSockets();
}

void AsioNetwork::ReleaseIdleMemory() {
  registry_->ReleaseIdleMemory();
}

std::uint64_t AsioNetwork::BytesWritten() const {
  return batcher_->BytesWritten();
}

void AsioNetwork::WhenAllClosed(std::function<void()> done) {
  registry_->WhenAllClosed(std::move(done));
}

void AsioNetwork::AcceptNext() {
  if (!acceptor_) return;
  acceptor_->async_accept([this, alive = std::weak_ptr<bool>(alive_), acceptor = acceptor_.get()](
                              const std::error_code& error, asio::ip::tcp::socket socket) {
    // Ignore completions of a listener that has been closed or replaced.
    if (alive.expired() || acceptor_.get() != acceptor) return;
    OnAccept(error, std::move(socket));
  });
}

void AsioNetwork::OnAccept(const std::error_code& error, asio::ip::tcp::socket socket) {
  if (error == asio::error::operation_aborted) return;
  if (error) {
    if (IsPerConnectionError(error)) {
      AcceptNext();
      return;
    }
    // Out of descriptors: newcomers are told so by a prompt close, using the descriptor
    // kept for that, and the listener waits for the next one. The engine says it once,
    // until a connection is accepted again.
    if (IsOutOfDescriptors(error) && reserve_.is_open()) {
      events_->OnAcceptFailed(error.message() + " (each newcomer is closed at once)");
      TurnAwayNewcomers();
      WaitForNewcomer();
      return;
    }
    // Out of memory, or something unknown (or no descriptor to spare): try again shortly
    // rather than spinning on an error that will not go away by itself.
    events_->OnAcceptFailed(error.message());
    retryTimer_.expires_after(std::chrono::milliseconds(100));
    retryTimer_.async_wait(
        [this, alive = std::weak_ptr<bool>(alive_)](const std::error_code& waitError) {
          if (waitError || alive.expired()) return;
          OpenReserve();
          AcceptNext();
        });
    return;
  }

  Admit(std::move(socket));
  // Take the rest of a burst of connections now, without a round through the reactor for
  // each: their welcomes and list refreshes then share the flushes of this turn.
  for (int more = 0; more < kAcceptBurst && acceptor_; ++more) {
    asio::ip::tcp::socket next(io_);
    std::error_code nextError;
    acceptor_->accept(next, nextError);
    if (nextError) {
      if (IsPerConnectionError(nextError) && nextError != asio::error::would_block &&
          nextError != asio::error::try_again) {
        continue;
      }
      break;
    }
    Admit(std::move(next));
  }
  AcceptNext();
}

void AsioNetwork::Admit(asio::ip::tcp::socket socket) {
  std::error_code ignored;
  socket.set_option(asio::ip::tcp::no_delay(true), ignored);
  KeepAlive(socket);
  std::string peer;
  std::error_code peerError;
  const auto remote = socket.remote_endpoint(peerError);
  if (!peerError) {
    const auto address = remote.address();
    peer = address.is_v4() ? address.to_v4().to_string() : address.to_string();
  }
  const ConnectionKey key = registry_->NewKey();
  auto connection = std::make_shared<AsioConnection>(std::move(socket), key, std::move(peer),
                                                     *events_, writeLimit_, registry_, batcher_);
  registry_->Add(key, connection);
  // The engine hears of the connection before its first byte is read.
  events_->OnAccepted(connection);
  connection->Start();
}

}  // namespace orv
