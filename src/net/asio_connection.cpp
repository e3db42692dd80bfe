#include "net/asio_connection.h"

#include <algorithm>
#include <array>
#include <asio/error.hpp>
#include <asio/post.hpp>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>

#include "net/connection_registry.h"
#include "net/write_batcher.h"

namespace orv {

namespace {

// A queue that grew past this while draining a burst (a long user list, a storm of
// refreshes) gives its memory back once it is empty again. Smaller queues are kept while
// the connection is busy and freed when it is idle (ReleaseIdleMemory).
constexpr std::size_t kKeptQueueCapacity = 64;

// Queued bytes from which Send writes at once rather than at the end of the turn.
constexpr std::size_t kEagerFlushBytes = 16 * 1024;

// What waits behind a hold counts apart from the reader's backlog, up to the write limit
// again: the two together never pass twice the limit.
constexpr std::size_t kHeldLimitFactor = 2;

// Time past which an input bucket is full whatever the rate (so the product below stays in
// range): 1000 s.
constexpr std::int64_t kLongestRefillMicros = 1'000'000'000;

// What a source is asked for at a time: enough for a few writes, little to keep.
constexpr std::size_t kSourcePieceBytes = 16 * 1024;

// Size of the blocks that collect a connection's own packets while it cannot take them.
// Blocks of this size come straight from the system and go straight back to it.
constexpr std::size_t kOwnBlockBytes = 128 * 1024;

bool WouldBlock(const std::error_code& error) {
  return error == asio::error::would_block || error == asio::error::try_again ||
         error == asio::error::interrupted;
}

}  // namespace

AsioConnection::AsioConnection(asio::ip::tcp::socket socket, ConnectionKey key,
                               std::string peerAddress, ConnectionEvents& events,
                               std::size_t writeLimitBytes,
                               std::shared_ptr<ConnectionRegistry> registry,
                               std::shared_ptr<WriteBatcher> batcher)
    : socket_(std::move(socket)),
      key_(key),
      peerAddress_(std::move(peerAddress)),
      events_(events),
      writeLimit_(writeLimitBytes),
      registry_(std::move(registry)),
      batcher_(std::move(batcher)) {
  // Reads and writes are tried directly and never block the loop; only waiting for
  // readiness goes through the reactor.
  std::error_code ignored;
  socket_.non_blocking(true, ignored);
  std::error_code localError;
  const auto local = socket_.local_endpoint(localError);
  if (!localError) {
    const auto address = local.address();
    localAddress_ = address.is_v4() ? address.to_v4().to_string() : address.to_string();
  }
}

AsioConnection::~AsioConnection() {
  // Only reached when no operation holds the connection any more.
  if (flushRequested_) batcher_->Forget(this);
  CloseSocket();
  registry_->Remove(key_);
}

void AsioConnection::Start() {
  WaitReadable();
}

void AsioConnection::WaitReadable() {
  if (waitingInput_ || inputPaused_ || state_ != State::kOpen) return;
  waitingInput_ = true;
  socket_.async_wait(
      asio::socket_base::wait_read,
      [self = shared_from_this()](const std::error_code& error) { self->OnReadable(error); });
}

void AsioConnection::OnReadable(const std::error_code& waitError) {
  waitingInput_ = false;
  if (state_ != State::kOpen) return;
  std::error_code error = waitError;
  if (!error) {
    // One receive is one unit for the engine, which cuts at a zero byte itself. The bytes
    // live in the shared buffer only until OnReceived returns.
    auto& buffer = batcher_->ReceiveBuffer();
    const std::size_t count = socket_.read_some(asio::buffer(buffer), error);
    if (!error) {
      batcher_->NoteReceive();
      if (count > 0) events_.OnReceived(*this, std::string_view(buffer.data(), count));
      // Without an input rate this is one comparison; with one, a look at the clock.
      if (registry_->Input().bytesPerSecond <= 0 || TakeInput(count)) WaitReadable();
      return;
    }
    if (WouldBlock(error)) {
      WaitReadable();
      return;
    }
  }
  if (error == asio::error::operation_aborted) return;
  // Input has ended: no further wait is started. Output goes on until the engine closes.
  if (error == asio::error::eof) {
    endOfInputReported_ = true;
    events_.OnPeerClosed(*this);
  } else {
    events_.OnReceiveError(*this);
  }
}

bool AsioConnection::TakeInput(std::size_t count) {
  const InputLimit& limit = registry_->Input();
  const auto now = std::chrono::steady_clock::now();
  if (inputStamp_ == std::chrono::steady_clock::time_point{}) {
    inputTokens_ = limit.burstBytes;
    inputStamp_ = now;
  } else {
    const std::int64_t micros = std::min<std::int64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(now - inputStamp_).count(),
        kLongestRefillMicros);
    const std::int64_t added = micros * limit.bytesPerSecond / 1'000'000;
    // The clock moves on only with whole bytes, so that frequent small receives lose no
    // time to rounding.
    if (added > 0) {
      inputTokens_ = std::min(limit.burstBytes, inputTokens_ + added);
      inputStamp_ = now;
    }
  }
  inputTokens_ -= static_cast<std::int64_t>(count);
  if (inputTokens_ > 0) return true;
  PauseInput();
  return false;
}

void AsioConnection::PauseInput() {
  const InputLimit& limit = registry_->Input();
  if (state_ != State::kOpen || limit.bytesPerSecond <= 0) return;
  // Reading resumes when a few receives' worth has come in, not for every receive.
  const std::int64_t resumeAt =
      std::min(limit.burstBytes,
               std::max<std::int64_t>(WriteBatcher::kReceiveSize, limit.bytesPerSecond / 16));
  const std::int64_t wanted = std::max<std::int64_t>(1, resumeAt - inputTokens_);
  const std::chrono::microseconds wait((wanted * 1'000'000 + limit.bytesPerSecond - 1) /
                                       limit.bytesPerSecond);
  if (!inputTimer_) inputTimer_ = std::make_unique<asio::steady_timer>(socket_.get_executor());
  inputPaused_ = true;
  inputTimer_->expires_after(wait);
  // Run out, or cancelled by a close or a new rate: the state says whether to read on.
  inputTimer_->async_wait([self = shared_from_this()](const std::error_code&) {
    self->inputPaused_ = false;
    self->WaitReadable();
  });
}

void AsioConnection::InputLimitChanged() {
  if (inputPaused_ && inputTimer_) inputTimer_->cancel();
}

void AsioConnection::NoteHeld(std::size_t bytes) {
  heldBytes_ += bytes;
  if (holdsAhead_ > 0) {
    markers_[lastHold_].heldBehind += bytes;
  } else {
    runningHoldBytes_ += bytes;
  }
}

void AsioConnection::Send(SharedBytes bytes) {
  if (state_ != State::kOpen || !bytes || bytes->empty()) return;
  queuedBytes_ += bytes->size();
  if (holding_ || holdsAhead_ > 0) NoteHeld(bytes->size());
  if (OverLimit()) {
    Overflow();
    return;
  }
  if (bytes.use_count() == 1) {
    // Nobody else holds this packet (a direct answer, a user list block): it joins this
    // connection's own buffer and its allocation goes at once, so a long answer waiting
    // for a slow reader is a few large blocks rather than thousands of small ones.
    QueueOwn(*bytes);
  } else {
    queue_.push_back(std::move(bytes));
    backIsOwn_ = false;
  }
  // A long run of output for one connection (a user list answer) goes to the socket as
  // it is made instead of piling up in memory until the end of the turn.
  if (queuedBytes_ >= kEagerFlushBytes && !waitingRoom_ && !holding_) {
    Flush();
  } else {
    RequestFlush();
  }
}

void AsioConnection::SendFrom(std::unique_ptr<OutputSource> source) {
  if (state_ != State::kOpen || !source) return;
  PushMarker(Marker{0, std::move(source), 0});
  RequestFlush();
}

void AsioConnection::TakeFromSource() {
  Marker& marker = markers_[markerHead_];
  SharedBytes piece = SharedBytes::Make();
  bool more = true;
  while (more && piece->size() < kSourcePieceBytes)
    more = marker.source->Next(piece.Unshared());
  // What a source makes does not count against the queue's bound until it is made, and it
  // is made only as fast as the reader takes it.
  queuedBytes_ += piece->size();
  if (!more) {
    PopMarker();
    if (piece->empty()) {
      ++head_;
    } else {
      queue_[head_] = std::move(piece);
      backIsOwn_ = head_ + 1 == queue_.size();
    }
    return;
  }
  queue_.insert(queue_.begin() + static_cast<std::ptrdiff_t>(head_), std::move(piece));
}

void AsioConnection::QueueOwn(const std::string& bytes) {
  if (backIsOwn_ && !QueueEmpty() && queue_.back()->size() + bytes.size() <= kOwnBlockBytes) {
    // Made here and held by nobody else; a write in progress takes its buffers afresh
    // each time.
    queue_.back().Unshared().append(bytes);
    return;
  }
  SharedBytes block = SharedBytes::Make();
  // A block that will fill up is made full size at once, so it does not grow by steps.
  if (backIsOwn_ && !QueueEmpty()) block.Unshared().reserve(kOwnBlockBytes);
  block.Unshared().append(bytes);
  queue_.push_back(std::move(block));
  backIsOwn_ = true;
}

void AsioConnection::PushMarker(Marker marker) {
  queue_.push_back(nullptr);
  backIsOwn_ = false;
  markers_.push_back(std::move(marker));
}

void AsioConnection::PopMarker() {
  markers_[markerHead_].source.reset();
  if (++markerHead_ == markers_.size()) {
    markers_.clear();
    markerHead_ = 0;
  }
}

void AsioConnection::HoldOutput(std::chrono::milliseconds duration) {
  if (state_ != State::kOpen || duration.count() <= 0) return;
  const auto ms = std::min<std::chrono::milliseconds::rep>(duration.count(), INT32_MAX);
  PushMarker(Marker{static_cast<std::int32_t>(ms), nullptr, 0});
  lastHold_ = markers_.size() - 1;
  ++holdsAhead_;
  RequestFlush();
}

bool AsioConnection::OverLimit() const {
  if (queuedBytes_ <= writeLimit_) return false;
  // What waits behind a hold of ours is no slow reader's backlog: the reader cannot have it
  // yet. What is ahead of the holds is, and the whole is bounded all the same, for a client
  // that keeps asking for answers (each one holds its output anew) while it reads nothing.
  const std::size_t ahead = queuedBytes_ - std::min(heldBytes_, queuedBytes_);
  return ahead > writeLimit_ || queuedBytes_ > kHeldLimitFactor * writeLimit_;
}

void AsioConnection::Close() {
  // Nothing reaches the engine after this, not even an end event posted before.
  endEventPosted_ = false;
  if (state_ == State::kClosing || state_ == State::kClosed) return;
  // From here on no input is read (a wait still running finds the state changed).
  state_ = State::kClosing;
  // A running hold ends now and later holds are skipped: only the bytes still count.
  if (holdTimer_) holdTimer_->cancel();
  if (inputTimer_) inputTimer_->cancel();
  // Sources are dropped too: their output is made for a reader that is going away.
  queue_.erase(
      std::remove(queue_.begin() + static_cast<std::ptrdiff_t>(head_), queue_.end(), nullptr),
      queue_.end());
  std::vector<Marker>().swap(markers_);
  markerHead_ = 0;
  backIsOwn_ = false;
  holdsAhead_ = 0;
  heldBytes_ = 0;
  runningHoldBytes_ = 0;
  closeDeadline_ = std::make_unique<asio::steady_timer>(socket_.get_executor());
  closeDeadline_->expires_after(kCloseFlushLimit);
  closeDeadline_->async_wait([self = shared_from_this()](const std::error_code& error) {
    if (!error) self->CloseSocket();
  });
  // The flush finishes the close, never inside the caller's own handler.
  RequestFlush();
}

void AsioConnection::RequestFlush() {
  // A running hold or a wait for room writes by itself when it ends.
  if (flushRequested_ || waitingRoom_ || holding_ || state_ == State::kClosed) return;
  flushRequested_ = true;
  batcher_->MarkDirty(this);
}

void AsioConnection::FlushListed() {
  flushRequested_ = false;
  Flush();
}

void AsioConnection::Flush() {
  if (waitingRoom_ || holding_ || state_ == State::kClosed) return;
  auto& gather = batcher_->GatherList();
  for (;;) {
    while (!QueueEmpty() && !queue_[head_]) {
      if (markers_[markerHead_].source) {
        TakeFromSource();
        continue;
      }
      const std::chrono::milliseconds hold(markers_[markerHead_].holdMs);
      const std::size_t behind = markers_[markerHead_].heldBehind;
      PopMarker();
      ++head_;
      if (holdsAhead_ > 0) --holdsAhead_;
      // Holds count only while the connection is open.
      if (state_ != State::kOpen) continue;
      runningHoldBytes_ = behind;
      StartHold(hold);
      return;
    }
    if (QueueEmpty()) {
      queue_.clear();
      head_ = 0;
      offset_ = 0;
      backIsOwn_ = false;
      if (queue_.capacity() > kKeptQueueCapacity) std::vector<SharedBytes>().swap(queue_);
      if (state_ == State::kClosing) FinishClose();
      return;
    }
    // Everything up to the next hold goes out in one gathered write, without copying.
    std::size_t count = 0;
    std::size_t total = 0;
    for (std::size_t i = head_; i < queue_.size() && count < gather.size() && queue_[i]; ++i) {
      const std::string& bytes = *queue_[i];
      const std::size_t skip = count == 0 ? offset_ : 0;
      gather[count++] = asio::const_buffer(bytes.data() + skip, bytes.size() - skip);
      total += bytes.size() - skip;
    }
    std::error_code error;
    const std::size_t written =
        socket_.write_some(std::span<const asio::const_buffer>(gather.data(), count), error);
    if (error && !WouldBlock(error)) {
      OnWriteFailed();
      return;
    }
    Consume(written);
    if (error || written < total) {
      // The socket is full: the rest waits for room, unless it is more than a reader may
      // leave waiting (what piled up behind a hold counts once the hold is over).
      if (state_ == State::kOpen && OverLimit()) {
        Overflow();
        return;
      }
      WaitWritable();
      return;
    }
  }
}

void AsioConnection::ReleaseIdleMemory() {
  if (!QueueEmpty() || queue_.capacity() == 0) return;
  std::vector<SharedBytes>().swap(queue_);
  head_ = 0;
  offset_ = 0;
  backIsOwn_ = false;
}

void AsioConnection::Consume(std::size_t n) {
  batcher_->AddBytesWritten(n);
  queuedBytes_ -= std::min(queuedBytes_, n);
  while (n > 0 && !QueueEmpty()) {
    SharedBytes& bytes = queue_[head_];
    const std::size_t rest = bytes->size() - offset_;
    if (n < rest) {
      offset_ += n;
      return;
    }
    n -= rest;
    offset_ = 0;
    bytes.reset();
    ++head_;
  }
  // A reader that keeps the queue from draining must not make it grow at the front.
  if (head_ >= kKeptQueueCapacity && head_ * 2 >= queue_.size()) {
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(head_));
    head_ = 0;
  }
}

void AsioConnection::StartHold(std::chrono::milliseconds duration) {
  holding_ = true;
  if (!holdTimer_) holdTimer_ = std::make_unique<asio::steady_timer>(socket_.get_executor());
  holdTimer_->expires_after(duration);
  // Cancelled (by Close or an overflow) or run out: either way the queue moves on.
  holdTimer_->async_wait([self = shared_from_this()](const std::error_code&) {
    self->holding_ = false;
    // What this hold kept back is the reader's to take now, and counts as its backlog.
    self->heldBytes_ -= std::min(self->heldBytes_, self->runningHoldBytes_);
    self->runningHoldBytes_ = 0;
    // Most connections hold once, after the welcome: the timer is not kept for ever. Its
    // wait has completed, so it may go while its handler runs.
    self->holdTimer_.reset();
    self->Flush();
  });
}

void AsioConnection::WaitWritable() {
  waitingRoom_ = true;
  socket_.async_wait(asio::socket_base::wait_write,
                     [self = shared_from_this()](const std::error_code&) {
                       // A failed wait shows itself in the next write.
                       self->waitingRoom_ = false;
                       self->Flush();
                     });
}

void AsioConnection::ClearQueue() {
  std::vector<SharedBytes>().swap(queue_);
  std::vector<Marker>().swap(markers_);
  markerHead_ = 0;
  backIsOwn_ = false;
  head_ = 0;
  offset_ = 0;
  queuedBytes_ = 0;
  holdsAhead_ = 0;
  heldBytes_ = 0;
  runningHoldBytes_ = 0;
}

void AsioConnection::OnWriteFailed() {
  // The peer is gone; the engine hears it once, like an orderly close, so that the user
  // record goes away with the connection. A connection the engine closed hears nothing, and
  // one whose end of input was reported has been told already. (An overflowed connection
  // has nothing queued, so it never gets here.)
  const bool report = state_ == State::kOpen && !endOfInputReported_;
  CloseSocket();
  if (report) PostEndEvent(false);
}

void AsioConnection::Overflow() {
  state_ = State::kOverflowed;
  ClearQueue();
  // Stop waiting on this reader, for room and for input alike.
  std::error_code ignored;
  socket_.cancel(ignored);
  if (holdTimer_) holdTimer_->cancel();
  if (inputTimer_) inputTimer_->cancel();
  PostEndEvent(true);
}

void AsioConnection::PostEndEvent(bool overflow) {
  // Each connection ends once: an overflow leaves the open state for good, and so does a
  // write failure, so at most one end event is ever posted.
  endEventPosted_ = true;
  asio::post(socket_.get_executor(), [self = shared_from_this(), overflow] {
    if (!self->endEventPosted_) return;
    self->endEventPosted_ = false;
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
  // what is already there (without waiting) before closing. Nobody else is reading into
  // the shared buffer now: this runs from a flush or a wait, not inside a receive.
  auto& scrap = batcher_->ReceiveBuffer();
  for (int round = 0; round < 16; ++round) {
    std::error_code error;
    const std::size_t count = socket_.read_some(asio::buffer(scrap), error);
    if (error || count == 0) break;
  }
  CloseSocket();
}

void AsioConnection::CloseSocket() {
  if (state_ == State::kClosed) return;
  state_ = State::kClosed;
  std::error_code ignored;
  socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  socket_.close(ignored);
  if (holdTimer_) holdTimer_->cancel();
  if (closeDeadline_) closeDeadline_->cancel();
  if (inputTimer_) inputTimer_->cancel();
  ClearQueue();
  registry_->SocketClosed();
}

}  // namespace orv
