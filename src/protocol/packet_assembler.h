// Cuts what one connection sends into packets, whatever TCP made of the writes: a packet is
// everything up to and including the terminator. The terminator is looked for in the bytes
// as they travel (its substituted form), so nothing is decoded here.
//
// A zero byte never belongs to a packet: it discards the unfinished packet it ends (clients
// written in C may send one after each packet; anything else before it is garbage).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orv {

class PacketAssembler {
 public:
  enum class Result {
    kOk,        // every complete packet was handed on; the rest waits for more input
    kOverflow,  // more than the limit arrived without a terminator; what was kept is dropped
    kStopped,   // the receiver asked to stop (the connection went away meanwhile)
  };

  // Hands every complete packet in data, in order, to onPacket (bytes up to and including
  // wireTerminator, valid during the call), which returns false to stop at once: the
  // assembler may then be gone, and Feed touches nothing more. A packet may hold up to limit
  // bytes before its terminator; bytes that can no longer end within that are an overflow,
  // however the stream was cut into receives. At most limit + terminator size - 1 bytes are
  // kept between calls (the last of them may be the start of the terminator).
  template <typename OnPacket>
  Result Feed(std::string_view data, std::string_view wireTerminator, std::size_t limit,
              OnPacket&& onPacket);

  std::size_t Pending() const { return pending_.size(); }
  // Gives back the memory of a large unfinished packet once it is done.
  void Release() { std::string().swap(pending_); }

 private:
  static constexpr std::size_t kKeptCapacity = 16 * 1024;

  Result Overflow() {
    Release();
    return Result::kOverflow;
  }

  std::string pending_;
};

template <typename OnPacket>
PacketAssembler::Result PacketAssembler::Feed(std::string_view data,
                                              std::string_view wireTerminator, std::size_t limit,
                                              OnPacket&& onPacket) {
  const std::size_t termSize = wireTerminator.size();
  // Unfinished bytes past this cannot become a packet within the limit.
  const std::size_t keepLimit = limit + (termSize > 0 ? termSize - 1 : 0);
  while (!data.empty()) {
    const std::size_t zero = data.find('\0');
    const std::string_view chunk = data.substr(0, zero);
    if (pending_.empty()) {
      // The common case: packets handed on straight from the read, without a copy.
      const std::size_t end = chunk.find(wireTerminator);
      if (end != std::string_view::npos) {
        if (end > limit) return Overflow();
        if (!onPacket(chunk.substr(0, end + termSize))) return Result::kStopped;
        data.remove_prefix(end + termSize);
        continue;
      }
      // Checked before a zero byte drops them too, as it would be had they come in a
      // receive of their own.
      if (chunk.size() > keepLimit) return Overflow();
      if (zero != std::string_view::npos) {
        data.remove_prefix(zero + 1);
        continue;
      }
      pending_.assign(chunk);
      return Result::kOk;
    }
    // A terminator may straddle the end of what came before.
    const std::size_t before = pending_.size();
    pending_.append(chunk);
    const std::size_t from = before >= termSize ? before - (termSize - 1) : 0;
    const std::size_t end = pending_.find(wireTerminator, from);
    if (end != std::string::npos) {
      const std::size_t used = end + termSize - before;  // bytes of chunk in the packet
      if (end > limit) return Overflow();
      if (!onPacket(std::string_view(pending_).substr(0, end + termSize))) {
        return Result::kStopped;
      }
      // A long packet's buffer is not kept for the short ones that follow.
      if (pending_.capacity() > kKeptCapacity) {
        Release();
      } else {
        pending_.clear();
      }
      data.remove_prefix(used);
      continue;
    }
    if (pending_.size() > keepLimit) return Overflow();
    if (zero == std::string_view::npos) return Result::kOk;
    pending_.clear();
    data.remove_prefix(zero + 1);
  }
  return Result::kOk;
}

}  // namespace orv
