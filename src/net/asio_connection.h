// One accepted TCP connection on Asio: waits for input and hands every receive to the
// engine, no faster than the network's input rate, and keeps an ordered, bounded write
// queue of shared buffers with hold markers between them, written with gathered
// non-blocking writes.
#pragma once

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "server/connection.h"
#include "server/network.h"

namespace orv {

class ConnectionRegistry;
class WriteBatcher;

class AsioConnection final : public Connection,
                             public std::enable_shared_from_this<AsioConnection> {
 public:
  // How long Close waits for queued output before it drops it and closes anyway.
  static constexpr std::chrono::milliseconds kCloseFlushLimit{2000};

  // Neither registry nor batcher may be null: the registry counts the open socket and forgets
  // the key when the connection goes; the batcher holds the receive buffer and runs the
  // flushes.
  AsioConnection(asio::ip::tcp::socket socket, ConnectionKey key, std::string peerAddress,
                 ConnectionEvents& events, std::size_t writeLimitBytes,
                 std::shared_ptr<ConnectionRegistry> registry,
                 std::shared_ptr<WriteBatcher> batcher);
  ~AsioConnection() override;
  AsioConnection(const AsioConnection&) = delete;
  AsioConnection& operator=(const AsioConnection&) = delete;

  // Starts reading; called once, after the engine has heard of the connection.
  void Start();

  ConnectionKey Key() const override { return key_; }
  const std::string& PeerAddress() const override { return peerAddress_; }
  const std::string& LocalAddress() const override { return localAddress_; }
  void Send(SharedBytes bytes) override;
  void SendFrom(std::unique_ptr<OutputSource> source) override;
  void HoldOutput(std::chrono::milliseconds duration) override;
  void Close() override;

  // Bytes queued and not yet written.
  std::size_t QueuedBytes() const { return queuedBytes_; }

  // The batcher's flush: the connection is off its list, and writes what is queued.
  void FlushListed();
  // Gives back the write queue's memory when nothing is queued.
  void ReleaseIdleMemory();
  // The network's input rate changed: a connection waiting for its bucket to fill looks
  // again at once.
  void InputLimitChanged();

 private:
  // Open -> Closing (Close) -> Closed (queue written, or the close deadline ran out).
  // Open -> Overflowed (queue past its limit) -> Closing (Close) -> Closed.
  // Open -> Closed (a write failed).
  enum class State {
    // Reading and writing; the only state in which sends and holds are queued.
    kOpen,
    // The engine called Close: nothing more is read, what is queued is written (holds
    // skipped), then the socket closes, or closes anyway when the flush takes too long.
    kClosing,
    // The write queue went past its limit: it was dropped, waiting for input and room was
    // cancelled and the end event posted; sends are dropped until the engine's Close.
    kOverflowed,
    // The socket is closed: nothing is read, written or queued any more.
    kClosed,
  };

  // One queue entry is the bytes to write, or (null) a marker: a hold or a source, kept in
  // markers_ in the same order. During a login storm every connection in its welcome hold
  // collects every announcement, so an entry is as small as a shared buffer can be.
  struct Marker {
    std::int32_t holdMs = 0;               // a pause, when source is null
    std::unique_ptr<OutputSource> source;  // makes bytes when the queue before it is written
    std::size_t heldBehind = 0;            // a hold's: bytes queued after it, up to the next
  };

  void WaitReadable();
  void OnReadable(const std::error_code& error);
  // Takes count bytes from the input bucket; false when it is empty and reading waits for it
  // to fill again (the socket is not read meanwhile, so TCP holds the sender back).
  bool TakeInput(std::size_t count);
  void PauseInput();
  // Bytes queued while a hold of ours is running or waiting ahead in the queue.
  void NoteHeld(std::size_t bytes);
  // Asks for a flush in this turn of the loop unless a wait will write anyway.
  void RequestFlush();
  // Writes what is queued, up to the next hold, until the socket would block (then it
  // waits for room by itself).
  void Flush();
  // Queues a packet that no other connection shares.
  void QueueOwn(const std::string& bytes);
  // Queues a hold or a source.
  void PushMarker(Marker marker);
  // The marker at the head of the queue has been dealt with.
  void PopMarker();
  // The head of the queue is a source: puts its next piece in front of it (or in its
  // place, when it has nothing more).
  void TakeFromSource();
  void StartHold(std::chrono::milliseconds duration);
  void WaitWritable();
  // Drops n written bytes from the front of the queue.
  void Consume(std::size_t n);
  void ClearQueue();
  bool QueueEmpty() const { return head_ == queue_.size(); }
  void OnWriteFailed();
  // Whether what is queued is more than the reader may leave waiting.
  bool OverLimit() const;
  void Overflow();
  // Posts OnOverflow or OnPeerClosed; withdrawn if the engine closes the connection first.
  void PostEndEvent(bool overflow);
  // Everything queued is written: half-close, then close.
  void FinishClose();
  void CloseSocket();

  asio::ip::tcp::socket socket_;
  // Made when first needed: most connections hold once (at the welcome) and close once.
  std::unique_ptr<asio::steady_timer> holdTimer_;
  std::unique_ptr<asio::steady_timer> closeDeadline_;
  // Made for a connection that ever sends faster than the input rate.
  std::unique_ptr<asio::steady_timer> inputTimer_;
  const ConnectionKey key_;
  const std::string peerAddress_;
  std::string localAddress_;
  ConnectionEvents& events_;
  const std::size_t writeLimit_;
  std::shared_ptr<ConnectionRegistry> registry_;
  std::shared_ptr<WriteBatcher> batcher_;

  // Written from head_ on; offset_ bytes of the head entry are out already. Emptied (not
  // freed) when drained, so a steady stream reuses one allocation.
  std::vector<SharedBytes> queue_;
  std::size_t head_ = 0;
  std::size_t offset_ = 0;
  // The markers of the null entries from head_ on, from markerHead_ on.
  std::vector<Marker> markers_;
  std::size_t markerHead_ = 0;
  // The last entry is a block this connection made to collect packets sent to it alone: the
  // next such packet may be added to it.
  bool backIsOwn_ = false;
  std::size_t queuedBytes_ = 0;
  std::size_t holdsAhead_ = 0;  // holds queued and not yet reached
  // Of queuedBytes_, those behind a hold that is running or waiting in the queue: the reader
  // cannot have had them yet. runningHoldBytes_ are those the running hold keeps back (up to
  // the next hold); the last waiting hold is markers_[lastHold_].
  std::size_t heldBytes_ = 0;
  std::size_t runningHoldBytes_ = 0;
  std::size_t lastHold_ = 0;

  // The input bucket: bytes that may still be read at once, as of inputStamp_ (unset until
  // the first receive under a limit).
  std::int64_t inputTokens_ = 0;
  std::chrono::steady_clock::time_point inputStamp_{};

  State state_ = State::kOpen;
  // What the connection waits for, whatever its state.
  bool waitingInput_ = false;
  bool waitingRoom_ = false;
  bool holding_ = false;
  bool inputPaused_ = false;     // waiting for the input bucket to fill
  bool flushRequested_ = false;  // on the batcher's list for this turn's flush
  bool endEventPosted_ = false;  // OnPeerClosed or OnOverflow posted; Close withdraws it
  // The peer's orderly end was reported when its input ended. The connection stays open for
  // output (a peer that half-closed may still read), so a write failing later must not report
  // the same end a second time.
  bool endOfInputReported_ = false;
};

}  // namespace orv
