// The packet assembler on its own. One byte stream is fed whole, cut into random pieces,
// and walked byte by byte through a plain model of the rules; all three must give the same
// packets and the same ending. Every packet ends in the first terminator after its start,
// holds no zero byte and keeps within the limit; what waits between calls stays bounded.
//
// Input: limit (2 bytes), terminator choice, packet count after which the receiver asks to
// stop (0: never), cutting seed (4 bytes), then the stream.
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "protocol/packet_assembler.h"
#include "protocol/wire_codec.h"
#include "protocol/wire_constants.h"

namespace orv::fuzz {
namespace {

using Result = PacketAssembler::Result;

struct Outcome {
  std::vector<std::string> packets;
  Result result = Result::kOk;
  std::size_t pending = 0;  // compared only when the stream ended normally
};

const char* Name(Result r) {
  switch (r) {
    case Result::kOk:
      return "ok";
    case Result::kOverflow:
      return "overflow";
    case Result::kStopped:
      return "stopped";
  }
  return "?";
}

std::string Describe(const Outcome& o) {
  std::string text = std::string(Name(o.result)) + ", pending " + std::to_string(o.pending) + ", " +
                     std::to_string(o.packets.size()) + " packets:";
  for (const auto& p : o.packets)
    text += "\n  [" + Shown(p) + "]";
  return text;
}

// Terminators: the real one as it travels, the plain one, and short ones that overlap
// themselves, so that a terminator straddling two pieces is found in every position.
std::string Terminator(std::size_t choice) {
  switch (choice % 6) {
    case 0:
      return WireCodec::BuiltIn().EncodeText(kTerminator);
    case 1:
      return std::string(kTerminator);
    case 2:
      return "\n";
    case 3:
      return "ab";
    case 4:
      return "aa";
    default:
      return "aba";
  }
}

// The rules, one byte at a time: a zero byte drops the unfinished packet; a packet ends
// with the first terminator; the stream overflows as soon as the bytes since the last cut
// can no longer end within limit bytes before a terminator.
Outcome Model(std::string_view stream, std::string_view term, std::size_t limit,
              std::size_t stopAfter) {
  Outcome o;
  std::string packet;
  for (const char c : stream) {
    if (c == '\0') {
      packet.clear();
      continue;
    }
    packet += c;
    if (packet.size() >= term.size() &&
        std::string_view(packet).substr(packet.size() - term.size()) == term) {
      if (packet.size() - term.size() > limit) {
        o.result = Result::kOverflow;
        return o;
      }
      o.packets.push_back(packet);
      packet.clear();
      if (stopAfter != 0 && o.packets.size() == stopAfter) {
        o.result = Result::kStopped;
        return o;
      }
      continue;
    }
    if (packet.size() >= limit + term.size()) {
      o.result = Result::kOverflow;
      return o;
    }
  }
  o.pending = packet.size();
  return o;
}

void CheckPacket(std::string_view packet, std::string_view term, std::size_t limit) {
  ORV_FUZZ_CHECK(packet.size() >= term.size(), Shown(packet));
  ORV_FUZZ_CHECK(packet.find(term) == packet.size() - term.size(), Shown(packet));
  ORV_FUZZ_CHECK(packet.find('\0') == std::string_view::npos, Shown(packet));
  ORV_FUZZ_CHECK(packet.size() - term.size() <= limit, Shown(packet));
}

// Feeds the pieces in turn until one call ends otherwise than kOk.
Outcome Feed(const std::vector<std::string_view>& pieces, std::string_view term, std::size_t limit,
             std::size_t stopAfter) {
  Outcome o;
  PacketAssembler assembler;
  for (const std::string_view piece : pieces) {
    o.result = assembler.Feed(piece, term, limit, [&](std::string_view packet) {
      CheckPacket(packet, term, limit);
      o.packets.emplace_back(packet);
      return stopAfter == 0 || o.packets.size() < stopAfter;
    });
    if (o.result != Result::kOk) return o;
    // What waits for more input is bounded, whatever the pieces.
    ORV_FUZZ_CHECK(assembler.Pending() < limit + term.size(),
                   "pending " + std::to_string(assembler.Pending()));
  }
  o.pending = assembler.Pending();
  return o;
}

bool Same(const Outcome& a, const Outcome& b) {
  if (a.result != b.result || a.packets != b.packets) return false;
  return a.result != Result::kOk || a.pending == b.pending;
}

}  // namespace
}  // namespace orv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orv::fuzz;
  ByteReader in(data, size);
  const std::size_t limit = in.U16() % 1024;
  const std::string term = Terminator(in.Byte());
  const std::size_t stopAfter = in.Byte() % 8;
  std::minstd_rand cutter(in.U32());
  const std::string_view stream = in.Rest();

  const Outcome model = Model(stream, term, limit, stopAfter);
  const Outcome whole = Feed({stream}, term, limit, stopAfter);
  ORV_FUZZ_CHECK(Same(model, whole), "model: " + Describe(model) + "\nwhole: " + Describe(whole));

  // Pieces of 0 to longest bytes; empty pieces are fed too (a receive never is empty, but
  // the assembler must not care).
  const std::size_t longest = 1 + cutter() % 64;
  std::vector<std::string_view> pieces;
  for (std::size_t at = 0; at < stream.size();) {
    const std::size_t n = cutter() % (longest + 1);
    pieces.push_back(stream.substr(at, n));
    at += n;
  }
  const Outcome cut = Feed(pieces, term, limit, stopAfter);
  ORV_FUZZ_CHECK(Same(whole, cut), "whole: " + Describe(whole) + "\ncut into " +
                                       std::to_string(pieces.size()) + " pieces: " + Describe(cut));
  return 0;
}
