// The packet assembler on its own. One byte stream is fed whole, cut into random pieces,
// and walked byte by byte through a plain model of the rules; all three must give the same
// packets (each with the trailer bytes that follow it, however they arrived) and the same
// ending. Every packet ends in the first terminator after its start, then at most four
// trailer bytes that cannot begin a packet; it holds no zero byte and keeps within the
// limit; what waits between calls stays bounded.
//
// Input: limit (2 bytes), terminator choice, packet count after which the receiver asks to
// stop (0: never), start-byte choice, cutting seed (4 bytes), then the stream.
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

// Which bytes may begin a packet: none (no trailers), the plain alphabet's digits, dots
// and "(", or the letters of the short terminators (so that trailers and terminators meet).
const StartBytes* Start(std::size_t choice) {
  static const auto make = [](std::string_view chars) {
    StartBytes table{};
    for (const char c : chars)
      table[static_cast<unsigned char>(c)] = true;
    return table;
  };
  static const StartBytes digits = make("0123456789.(");
  static const StartBytes letters = make("ab\n");
  switch (choice % 3) {
    case 0:
      return nullptr;
    case 1:
      return &digits;
    default:
      return &letters;
  }
}

bool IsTrailerByte(char c, const StartBytes* start) {
  return start != nullptr && c != '\0' && !(*start)[static_cast<unsigned char>(c)];
}

// The rules, one byte at a time: a zero byte drops the unfinished packet; a packet ends
// with the first terminator, and takes up to four following bytes that cannot begin a
// packet; the stream overflows as soon as the bytes since the last cut can no longer end
// within limit bytes before a terminator.
Outcome Model(std::string_view stream, std::string_view term, std::size_t limit,
              std::size_t stopAfter, const StartBytes* start) {
  Outcome o;
  std::string packet;
  std::size_t trailerLeft = 0;
  for (const char c : stream) {
    if (trailerLeft > 0) {
      if (IsTrailerByte(c, start)) {
        o.packets.back() += c;
        --trailerLeft;
        continue;
      }
      trailerLeft = 0;
    }
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
      trailerLeft = PacketAssembler::kMaxTrailer;
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

void CheckTrailer(std::string_view trailer, const StartBytes* start) {
  ORV_FUZZ_CHECK(trailer.size() <= PacketAssembler::kMaxTrailer, Shown(trailer));
  for (const char c : trailer)
    ORV_FUZZ_CHECK(IsTrailerByte(c, start), Shown(trailer));
}

void CheckPacket(std::string_view packet, std::string_view term, std::size_t limit,
                 const StartBytes* start) {
  const std::size_t at = packet.find(term);
  ORV_FUZZ_CHECK(at != std::string_view::npos, Shown(packet));
  ORV_FUZZ_CHECK(packet.find('\0') == std::string_view::npos, Shown(packet));
  ORV_FUZZ_CHECK(at <= limit, Shown(packet));
  CheckTrailer(packet.substr(at + term.size()), start);
}

// Feeds the pieces in turn until one call ends otherwise than kOk.
Outcome Feed(const std::vector<std::string_view>& pieces, std::string_view term, std::size_t limit,
             std::size_t stopAfter, const StartBytes* start) {
  Outcome o;
  PacketAssembler assembler;
  const Framing framing{term, limit, start};
  for (const std::string_view piece : pieces) {
    o.result = assembler.Feed(
        piece, framing,
        [&](std::string_view packet) {
          CheckPacket(packet, term, limit, start);
          o.packets.emplace_back(packet);
          return stopAfter == 0 || o.packets.size() < stopAfter;
        },
        [&](std::string_view trailer) {
          ORV_FUZZ_CHECK(!o.packets.empty(), "a trailer before any packet");
          o.packets.back().append(trailer);
          CheckPacket(o.packets.back(), term, limit, start);
        });
    if (o.result != Result::kOk) return o;
    // What waits for more input is bounded, whatever the pieces.
    ORV_FUZZ_CHECK(assembler.Pending() < limit + term.size(),
                   "pending " + std::to_string(assembler.Pending()));
  }
  o.pending = assembler.Pending();
  return o;
}

// A packet without the trailer bytes after its terminator.
std::string_view WithoutTrailer(std::string_view packet, std::string_view term) {
  return packet.substr(0, packet.find(term) + term.size());
}

bool Same(const Outcome& a, const Outcome& b, std::string_view term) {
  if (a.result != b.result || a.packets.size() != b.packets.size()) return false;
  for (std::size_t i = 0; i < a.packets.size(); ++i) {
    // The receiver stopped at the last packet: how much of its trailer had arrived with it
    // depends on how the stream was cut.
    const bool last = i + 1 == a.packets.size() && a.result == Result::kStopped;
    if (last ? WithoutTrailer(a.packets[i], term) != WithoutTrailer(b.packets[i], term)
             : a.packets[i] != b.packets[i]) {
      return false;
    }
  }
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
  const orv::StartBytes* start = Start(in.Byte());
  std::minstd_rand cutter(in.U32());
  const std::string_view stream = in.Rest();

  const Outcome model = Model(stream, term, limit, stopAfter, start);
  const Outcome whole = Feed({stream}, term, limit, stopAfter, start);
  ORV_FUZZ_CHECK(Same(model, whole, term),
                 "model: " + Describe(model) + "\nwhole: " + Describe(whole));

  // Pieces of 0 to longest bytes; empty pieces are fed too (a receive never is empty, but
  // the assembler must not care).
  const std::size_t longest = 1 + cutter() % 64;
  std::vector<std::string_view> pieces;
  for (std::size_t at = 0; at < stream.size();) {
    const std::size_t n = cutter() % (longest + 1);
    pieces.push_back(stream.substr(at, n));
    at += n;
  }
  const Outcome cut = Feed(pieces, term, limit, stopAfter, start);
  ORV_FUZZ_CHECK(Same(whole, cut, term), "whole: " + Describe(whole) + "\ncut into " +
                                             std::to_string(pieces.size()) +
                                             " pieces: " + Describe(cut));
  return 0;
}
