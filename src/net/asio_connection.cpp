#include "net/asio_connection.h"

#include <algorithm>
#include <array>
#include <asio/error.hpp>
#include <asio/post.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>
#include <string_view>
#include <utility>

#include "net/connection_registry.h"

namespace orv {

AsioConnection::AsioConnection(asio::ip::tcp::socket socket, std::int32_t key,
                               std::string peerAddress, ConnectionEvents& events,
                               std::size_t writeLimitBytes,
                               std::shared_ptr<ConnectionRegistry> registry)
    : socket_(std::move(socket)),
      holdTimer_(socket_.get_executor()),
      closeDeadline_(socket_.get_executor()),
      key_(key),
      peerAddress_(std::move(peerAddress)),
      events_(events),
      writeLimit_(writeLimitBytes),
      registry_(std::move(registry)),
      readBuffer_(kReadBufferSize) {}

AsioConnection::~AsioConnection() {
  // Only reached when no operation holds the connection any more.
  CloseSocket();
  if (registry_) registry_->Remove(key_);
}

void AsioConnection::Start() {
  if (started_) return;
  started_ = true;
  ReadNext();
}

void AsioConnection::ReadNext() {
  if (reading_ || readStopped_ || closed_ || socketClosed_) return;
  reading_ = true;
  socket_.async_read_some(
      asio::buffer(readBuffer_),
      [self = shared_from_this()](const std::error_code& error, std::size_t count) {
        self->OnRead(error, count);
      });
}

void AsioConnection::OnRead(const std::error_code& error, std::size_t count) {
  reading_ = false;
  if (readStopped_ || closed_ || socketClosed_) return;
  if (!error) {
    // One receive is one unit for the engine; it cuts at a zero byte itself.
    if (count > 0) events_.OnReceived(*this, std::string_view(readBuffer_.data(), count));
    ReadNext();
    return;
  }
  readStopped_ = true;
  if (error == asio::error::operation_aborted) return;
  if (error == asio::error::eof) {
    peerClosedReported_ = true;
    events_.OnPeerClosed(*this);
  } else {
    events_.OnReceiveError(*this);
  }
}

void AsioConnection::Send(SharedBytes bytes) {
  if (closed_ || overflowed_ || socketClosed_ || !bytes || bytes->empty()) return;
  queuedBytes_ += bytes->size();
  if (queuedBytes_ > writeLimit_) {
    Overflow();
    return;
  }
  queue_.push_back(Item{std::move(bytes), {}});
  PumpWrites();
}

void AsioConnection::HoldOutput(std::chrono::milliseconds duration) {
  if (closed_ || overflowed_ || socketClosed_ || duration.count() <= 0) return;
  queue_.push_back(Item{nullptr, duration});
  PumpWrites();
}

void AsioConnection::Close() {
  if (closed_) return;
  closed_ = true;
  readStopped_ = true;
  if (socketClosed_) return;
  // A running hold ends now and later holds are skipped: only the bytes still count.
  holdTimer_.cancel();
  std::erase_if(queue_, [](const Item& item) { return !item.bytes; });
  closeDeadline_.expires_after(kCloseFlushLimit);
  closeDeadline_.async_wait([self = shared_from_this()](const std::error_code& error) {
    if (!error) self->CloseSocket();
  });
  // The writer finishes the close, never inside the caller's own handler.
  asio::post(socket_.get_executor(), [self = shared_from_this()] { self->PumpWrites(); });
}

void AsioConnection::PumpWrites() {
  if (writing_ || socketClosed_) return;
  while (!queue_.empty() && !queue_.front().bytes) {
    const auto hold = queue_.front().hold;
    queue_.pop_front();
    if (closed_ || overflowed_) continue;
    writing_ = true;
    holdTimer_.expires_after(hold);
    holdTimer_.async_wait([self = shared_from_this()](const std::error_code&) {
      self->writing_ = false;
      self->PumpWrites();
    });
    return;
  }
  if (queue_.empty()) {
    if (closed_) FinishClose();
    return;
  }
  // Everything up to the next hold goes out in one gathered write, without copying.
  gather_.clear();
  inFlight_.clear();
  inFlightBytes_ = 0;
  while (!queue_.empty() && queue_.front().bytes) {
    SharedBytes& bytes = queue_.front().bytes;
    gather_.push_back(asio::buffer(*bytes));
    inFlightBytes_ += bytes->size();
    inFlight_.push_back(std::move(bytes));
    queue_.pop_front();
  }
  writing_ = true;
  asio::async_write(socket_, gather_,
                    [self = shared_from_this()](const std::error_code& error, std::size_t) {
                      self->OnWritten(error);
                    });
}

void AsioConnection::OnWritten(const std::error_code& error) {
  writing_ = false;
  queuedBytes_ -= std::min(queuedBytes_, inFlightBytes_);
  inFlightBytes_ = 0;
  inFlight_.clear();
  gather_.clear();
  if (socketClosed_) return;
  if (error && !overflowed_) {
    OnWriteFailed();
    return;
  }
  PumpWrites();
}

void AsioConnection::OnWriteFailed() {
  queue_.clear();
  queuedBytes_ = 0;
  readStopped_ = true;
  // The peer is gone; the engine hears it once, like an orderly close, so that the user
  // record goes away with the connection.
  const bool report = !closed_ && !peerClosedReported_ && !overflowed_;
  CloseSocket();
  if (report) PostEndEvent(false);
}

void AsioConnection::Overflow() {
  overflowed_ = true;
  readStopped_ = true;
  queue_.clear();
  queuedBytes_ = inFlightBytes_;
  // Abort the write that is stuck on this reader, and the read with it.
  std::error_code ignored;
  socket_.cancel(ignored);
  holdTimer_.cancel();
  PostEndEvent(true);
}

void AsioConnection::PostEndEvent(bool overflow) {
  if (!overflow) peerClosedReported_ = true;
  asio::post(socket_.get_executor(), [self = shared_from_this(), overflow] {
    if (self->closed_) return;
    if (overflow) {
      self->events_.OnOverflow(*self);
    } else {
      self->events_.OnPeerClosed(*self);
    }
  });
}

void AsioConnection::FinishClose() {
  std::error_code ignored;
  socket_.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
  // Unread input makes the close a reset, which may cost the peer our last packet; take
  // what is already there (without waiting) before closing.
  socket_.non_blocking(true, ignored);
  std::array<char, 4096> scrap;
  for (int round = 0; round < 16; ++round) {
    std::error_code error;
    const std::size_t count = socket_.read_some(asio::buffer(scrap), error);
    if (error || count == 0) break;
  }
  CloseSocket();
}

void AsioConnection::CloseSocket() {
  if (socketClosed_) return;
  socketClosed_ = true;
  std::error_code ignored;
  socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  socket_.close(ignored);
  holdTimer_.cancel();
  closeDeadline_.cancel();
  queue_.clear();
  if (registry_) registry_->SocketClosed();
}

}  // namespace orv
