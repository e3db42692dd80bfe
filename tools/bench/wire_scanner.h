// Reading packets as they travel, without decoding them whole: the substitution works byte by
// byte, so "//end" and "||" have fixed substituted forms that can be searched for directly.
// The load generator reads every delivery this way; only the few bytes it needs are decoded.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/wire_codec.h"
#include "protocol/wire_constants.h"

namespace orv::bench {

// The header of one substituted packet (terminator excluded), as views into it.
struct WireHeader {
  std::string_view name;  // still substituted
  std::int32_t type = 0;  // decoded
  std::string_view body;  // still substituted
};

// What a load-generator packet carries at the start of its chat body: "~", the sender in 5
// digits, the sequence number in 10, the send time in nanoseconds in 19, ".", then padding.
struct Stamp {
  std::uint32_t sender = 0;
  std::uint64_t sequence = 0;
  std::uint64_t sentNs = 0;
};

class WireScanner {
 public:
  explicit WireScanner(const WireCodec& codec);

  // Position of the next substituted terminator at or after from, or npos.
  std::size_t FindTerminator(std::string_view wire, std::size_t from = 0) const;
  static constexpr std::size_t kTerminatorSize = kTerminator.size();

  // Reads name, type and body of one packet (without its terminator); nothing when the
  // packet lacks any of its six "||" separators.
  std::optional<WireHeader> ReadHeader(std::string_view packet) const;

  static constexpr std::size_t kSenderDigits = 5;
  static constexpr std::size_t kSequenceDigits = 10;
  static constexpr std::size_t kTimeDigits = 19;
  static constexpr std::size_t kStampSize = 2 + kSenderDigits + kSequenceDigits + kTimeDigits;

  // The stamp at the start of a substituted chat body, when the body carries one.
  std::optional<Stamp> ReadStamp(std::string_view body) const;
  // The stamp of a load-generator chat packet (type 5, body starting with the stamp),
  // found without reading the rest of the header: the first "~" of such a packet opens
  // its body, right after "||5||". Nothing for any other packet (ReadHeader tells more).
  std::optional<Stamp> FindStamp(std::string_view packet) const;

  // The plain chat body of a stamped packet: stamp, then padding up to padTo bytes in all.
  static std::string StampedBody(const Stamp& stamp, std::size_t padTo);

  std::string Decode(std::string_view wire) const;
  char DecodeByte(char c) const {
    return static_cast<char>(decode_[static_cast<unsigned char>(c)]);
  }
  const WireCodec& Codec() const { return codec_; }

 private:
  const WireCodec& codec_;
  std::string terminator_;
  std::string chatTypeField_;  // substituted "||5||"
  char bar_;                   // substituted "|"
  char tilde_;                 // substituted "~"
  std::array<unsigned char, 256> decode_{};
  std::array<unsigned char, 256> digit_{};  // substituted digit -> 0..9, else 0xFF
};

}  // namespace orv::bench
