// Cuts what one connection sends into packets, whatever TCP made of the writes: a packet is
// everything up to and including the terminator. The terminator is looked for in the bytes
// as they travel (its substituted form), so nothing is decoded here.
//
// Some clients write a few characters after each terminator (a line break, CR LF CR LF, or
// four letters). Up to kMaxTrailer bytes right after a terminator that cannot begin a
// packet belong to the packet they follow: they are handed on with it, or on their own when
// they arrive in a later receive, and never become the start of the next packet's header.
// Which bytes can begin a packet is the caller's to say (see StartBytes).
//
// A zero byte never belongs to a packet: it discards the unfinished packet it ends (clients
// written in C may send one after each packet; anything else before it is garbage), and it
// ends a trailer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orv {

// For each byte as it travels: whether it may be the first byte of a packet.
using StartBytes = std::array<bool, 256>;

struct Framing {
  std::string_view terminator;  // as it travels
  std::size_t limit = 0;        // bytes a packet may hold before its terminator
  // Bytes that may begin a packet; without a table no byte is taken for a trailer.
  const StartBytes* startBytes = nullptr;
};

class PacketAssembler {
 public:
  // The most bytes after a terminator that can belong to the packet it ends.
  static constexpr std::size_t kMaxTrailer = 4;

  enum class Result {
    kOk,        // every complete packet was handed on; the rest waits for more input
    kOverflow,  // more than the limit arrived without a terminator; what was kept is dropped
    kStopped,   // the receiver asked to stop (the connection went away meanwhile)
  };

  // Hands every complete packet in data, in order, to onPacket (bytes up to and including
  // the terminator, followed by the trailer bytes that came with it; valid during the
  // call), which returns false to stop at once: the assembler may then be gone, and Feed
  // touches nothing more. Trailer bytes of the last packet that arrive only now go to
  // onTrailer. A packet may hold up to limit bytes before its terminator; bytes that can no
  // longer end within that are an overflow, however the stream was cut into receives. At
  // most limit + terminator size - 1 bytes are kept between calls (the last of them may be
  // the start of the terminator).
  template <typename OnPacket, typename OnTrailer>
  Result Feed(std::string_view data, const Framing& framing, OnPacket&& onPacket,
              OnTrailer&& onTrailer);

  std::size_t Pending() const { return pending_.size(); }
  // Gives back the memory of a large unfinished packet once it is done.
  void Release() { std::string().swap(pending_); }

 private:
  static constexpr std::size_t kKeptCapacity = 16 * 1024;

  Result Overflow() {
    Release();
    trailerLeft_ = 0;
    return Result::kOverflow;
  }

  // How many bytes at the start of rest (at most left) are trailer bytes.
  static std::size_t TrailerLength(std::string_view rest, std::size_t left,
                                   const StartBytes* startBytes) {
    if (startBytes == nullptr) return 0;
    std::size_t n = 0;
    while (n < left && n < rest.size()) {
      const auto byte = static_cast<unsigned char>(rest[n]);
      if (byte == 0 || (*startBytes)[byte]) break;
      ++n;
    }
    return n;
  }

  // After a packet whose trailer ran to the end of the input: how many more may follow in
  // the next receive.
  void NoteTrailerEnd(std::size_t taken, bool atEnd) {
    trailerLeft_ =
        atEnd && taken < kMaxTrailer ? static_cast<std::uint8_t>(kMaxTrailer - taken) : 0;
  }

  std::string pending_;
  std::uint8_t trailerLeft_ = 0;  // trailer bytes the last packet may still get
};

template <typename OnPacket, typename OnTrailer>
PacketAssembler::Result PacketAssembler::Feed(std::string_view data, const Framing& framing,
                                              OnPacket&& onPacket, OnTrailer&& onTrailer) {
  const std::string_view term = framing.terminator;
  const std::size_t termSize = term.size();
  const std::size_t limit = framing.limit;
  // Unfinished bytes past this cannot become a packet within the limit.
  const std::size_t keepLimit = limit + (termSize > 0 ? termSize - 1 : 0);
  if (trailerLeft_ > 0 && !data.empty()) {
    // The rest of a trailer, cut off by the end of the last receive.
    const std::size_t n = TrailerLength(data, trailerLeft_, framing.startBytes);
    if (n > 0) onTrailer(data.substr(0, n));
    trailerLeft_ = n == data.size() ? static_cast<std::uint8_t>(trailerLeft_ - n) : 0;
    data.remove_prefix(n);
  }
  while (!data.empty()) {
    const std::size_t zero = data.find('\0');
    const std::string_view chunk = data.substr(0, zero);
    const bool lastChunk = zero == std::string_view::npos;
    if (pending_.empty()) {
      // The common case: packets handed on straight from the read, without a copy.
      const std::size_t end = chunk.find(term);
      if (end != std::string_view::npos) {
        if (end > limit) return Overflow();
        const std::size_t packetEnd = end + termSize;
        const std::size_t trailer =
            TrailerLength(chunk.substr(packetEnd), kMaxTrailer, framing.startBytes);
        NoteTrailerEnd(trailer, lastChunk && packetEnd + trailer == chunk.size());
        if (!onPacket(chunk.substr(0, packetEnd + trailer))) return Result::kStopped;
        data.remove_prefix(packetEnd + trailer);
        continue;
      }
      // Checked before a zero byte drops them too, as it would be had they come in a
      // receive of their own.
      if (chunk.size() > keepLimit) return Overflow();
      if (!lastChunk) {
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
    const std::size_t end = pending_.find(term, from);
    if (end != std::string::npos) {
      if (end > limit) return Overflow();
      const std::size_t packetEnd = end + termSize;
      const std::size_t trailer = TrailerLength(std::string_view(pending_).substr(packetEnd),
                                                kMaxTrailer, framing.startBytes);
      const std::size_t used = packetEnd + trailer - before;  // bytes of chunk in the packet
      NoteTrailerEnd(trailer, lastChunk && used == chunk.size());
      if (!onPacket(std::string_view(pending_).substr(0, packetEnd + trailer))) {
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
    if (lastChunk) return Result::kOk;
    pending_.clear();
    data.remove_prefix(zero + 1);
  }
  return Result::kOk;
}

}  // namespace orv
