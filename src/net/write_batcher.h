// The per-turn flush of one network's connections and the scratch they share: output queued
// during one turn of the loop goes out in one gathered write per connection, every receive
// reads into one buffer, and one gather list serves every write. Shared by the network and
// its connections so that either may go first; used on the engine thread only.
#pragma once

#include <array>
#include <asio/any_io_executor.hpp>
#include <asio/buffer.hpp>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace orv {

class AsioConnection;

class WriteBatcher : public std::enable_shared_from_this<WriteBatcher> {
 public:
  // One receive reads at most this many bytes.
  static constexpr std::size_t kReceiveSize = 4096;
  // Buffers handed to one gathered write at most.
  static constexpr std::size_t kMaxGather = 64;

  explicit WriteBatcher(asio::any_io_executor executor);

  // The first connection marked in a turn posts one flush, which runs after the events
  // already waiting (more receives whose output joins the same write), or one turn later
  // when input kept coming in meanwhile.
  void MarkDirty(AsioConnection* connection);
  // A connection that goes away while marked (its destructor calls this).
  void Forget(AsioConnection* connection);
  // Counts receives, so that a flush can let input that is already waiting join it.
  void NoteReceive() { ++receives_; }

  // Every connection reads into this one buffer and hands the bytes on before it returns,
  // so no connection needs a receive buffer of its own.
  std::array<char, kReceiveSize>& ReceiveBuffer() { return receiveBuffer_; }
  // Scratch list of the buffers of one gathered write (writes never overlap).
  std::array<asio::const_buffer, kMaxGather>& GatherList() { return gather_; }

  // Bytes the connections have written so far, all together.
  std::uint64_t BytesWritten() const { return bytesWritten_; }
  void AddBytesWritten(std::size_t n) { bytesWritten_ += n; }

 private:
  void PostFlush();
  void FlushDirty();

  asio::any_io_executor executor_;
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
