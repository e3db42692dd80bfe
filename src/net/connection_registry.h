// The live connections of one network, by key: hands out keys, counts open sockets and
// closes them all at shutdown. It also holds what the connections share: the one receive
// buffer and the list of connections with output waiting for the next flush. Shared by the
// network and its connections so that either may go first; used on the engine thread only.
#pragma once

#include <array>
#include <asio/any_io_executor.hpp>
#include <asio/buffer.hpp>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "users/connection_key.h"

namespace orv {

class AsioConnection;

class ConnectionRegistry : public std::enable_shared_from_this<ConnectionRegistry> {
 public:
  // One receive reads at most this many bytes.
  static constexpr std::size_t kReceiveSize = 4096;
  // Buffers handed to one gathered write at most.
  static constexpr std::size_t kMaxGather = 64;

  explicit ConnectionRegistry(asio::any_io_executor executor);

  // A key that is not 0 and not held by a connection that still exists.
  ConnectionKey NewKey();

  void Add(ConnectionKey key, const std::shared_ptr<AsioConnection>& connection);
  // Called by a connection's destructor.
  void Remove(ConnectionKey key);
  // Called once by each connection when its socket is closed.
  void SocketClosed();

  std::size_t Size() const { return connections_.size(); }
  std::size_t OpenSockets() const { return openSockets_; }

  // Calls Close on every connection that still exists.
  void CloseAll();
  // Frees the write queues of connections that have nothing queued (after a burst).
  void ReleaseIdleMemory();
  // Bytes the connections have written so far, all together.
  std::uint64_t BytesWritten() const { return bytesWritten_; }
  void AddBytesWritten(std::size_t n) { bytesWritten_ += n; }
  // Runs once when no socket is open any more (at once when none is open now).
  void WhenAllClosed(std::function<void()> done);

  // Every connection reads into this one buffer and hands the bytes on before it returns,
  // so no connection needs a receive buffer of its own.
  std::array<char, kReceiveSize>& ReceiveBuffer() { return receiveBuffer_; }
  // Scratch list of the buffers of one gathered write (writes never overlap).
  std::array<asio::const_buffer, kMaxGather>& GatherList() { return gather_; }

  // Output queued during one turn of the loop goes out in one gathered write per
  // connection: the first connection marked in a turn posts one flush, which runs after
  // the events already waiting (more receives whose output joins the same write), or one
  // turn later when input kept coming in meanwhile.
  void MarkDirty(AsioConnection* connection);
  // A connection that goes away while marked (its destructor calls this).
  void Forget(AsioConnection* connection);
  // Counts receives, so that a flush can let input that is already waiting join it.
  void NoteReceive() { ++receives_; }

 private:
  void PostFlush();
  void FlushDirty();

  asio::any_io_executor executor_;
  std::unordered_map<ConnectionKey, std::weak_ptr<AsioConnection>> connections_;
  std::uint32_t counter_ = 0;
  std::size_t openSockets_ = 0;
  std::function<void()> allClosed_;
  std::array<char, kReceiveSize> receiveBuffer_{};
  std::array<asio::const_buffer, kMaxGather> gather_{};
  std::vector<AsioConnection*> dirty_;
  bool flushPosted_ = false;
  bool deferred_ = false;
  std::uint64_t receives_ = 0;
  std::uint64_t receivesAtPost_ = 0;
  std::uint64_t bytesWritten_ = 0;
};

}  // namespace orv
