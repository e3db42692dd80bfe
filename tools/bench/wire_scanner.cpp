#include "wire_scanner.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace orv::bench {

WireScanner::WireScanner(const WireCodec& codec)
    : codec_(codec),
      terminator_(codec.EncodeText(kTerminator)),
      chatTypeField_(codec.EncodeText(std::string(kFieldSeparator) +
                                      std::to_string(packet_type::kChat) +
                                      std::string(kFieldSeparator))),
      bar_(codec.EncodeText("|")[0]),
      tilde_(codec.EncodeText("~")[0]) {
  std::string all(256, '\0');
  for (int i = 0; i < 256; ++i)
    all[static_cast<std::size_t>(i)] = static_cast<char>(i);
  const std::string decoded = codec.DecodeText(all);
  for (int i = 0; i < 256; ++i) {
    decode_[static_cast<std::size_t>(i)] =
        static_cast<unsigned char>(decoded[static_cast<std::size_t>(i)]);
    const unsigned char plain = decode_[static_cast<std::size_t>(i)];
    digit_[static_cast<std::size_t>(i)] =
        plain >= '0' && plain <= '9' ? static_cast<unsigned char>(plain - '0') : 0xFF;
  }
}

std::size_t WireScanner::FindTerminator(std::string_view wire, std::size_t from) const {
  // memchr for the first byte and a compare of the rest beats memmem on packet-sized texts.
  const char* data = wire.data();
  const std::size_t size = wire.size();
  while (from + kTerminatorSize <= size) {
    const void* hit = std::memchr(data + from, terminator_[0], size - from - kTerminatorSize + 1);
    if (hit == nullptr) return std::string_view::npos;
    const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - data);
    if (std::memcmp(data + at + 1, terminator_.data() + 1, kTerminatorSize - 1) == 0) return at;
    from = at + 1;
  }
  return std::string_view::npos;
}

std::optional<WireHeader> WireScanner::ReadHeader(std::string_view packet) const {
  // Separators in order: after the MAC, name, avatar, subject, flag and type.
  std::size_t starts[7];
  std::size_t at = 0;
  for (int field = 0; field < 6; ++field) {
    while (true) {
      const void* bar = std::memchr(packet.data() + at, bar_, packet.size() - at);
      if (bar == nullptr) return std::nullopt;
      at = static_cast<std::size_t>(static_cast<const char*>(bar) - packet.data());
      if (at + 1 < packet.size() && packet[at + 1] == bar_) break;
      ++at;
    }
    starts[field + 1] = at + 2;
    at += 2;
  }
  WireHeader header;
  header.name = packet.substr(starts[1], starts[2] - 2 - starts[1]);
  std::uint32_t type = 0;
  for (std::size_t i = starts[5]; i < starts[6] - 2; ++i) {
    const char c = DecodeByte(packet[i]);
    if (c < '0' || c > '9') break;
    type = type * 10u + static_cast<std::uint32_t>(c - '0');
  }
  header.type = static_cast<std::int32_t>(type);
  header.body = packet.substr(starts[6]);
  return header;
}

std::optional<Stamp> WireScanner::ReadStamp(std::string_view body) const {
  if (body.size() < kStampSize || body[0] != tilde_ || DecodeByte(body[kStampSize - 1]) != '.') {
    return std::nullopt;
  }
  // Every delivery passes here: the digits are read four at a time, so that the work on
  // one group does not wait for the group before it, and without a branch per digit.
  const auto* bytes = reinterpret_cast<const unsigned char*>(body.data());
  unsigned bad = 0;
  const auto field = [&](std::size_t from, std::size_t width) {
    std::uint64_t value = 0;
    std::size_t i = from;
    for (; i + 4 <= from + width; i += 4) {
      const unsigned a = digit_[bytes[i]], b = digit_[bytes[i + 1]];
      const unsigned c = digit_[bytes[i + 2]], d = digit_[bytes[i + 3]];
      bad |= a | b | c | d;
      value = value * 10000 + (a * 1000 + b * 100 + c * 10 + d);
    }
    for (; i < from + width; ++i) {
      bad |= digit_[bytes[i]];
      value = value * 10 + digit_[bytes[i]];
    }
    return value;
  };
  const std::uint64_t sender = field(1, kSenderDigits);
  const std::uint64_t sequence = field(1 + kSenderDigits, kSequenceDigits);
  const std::uint64_t sent = field(1 + kSenderDigits + kSequenceDigits, kTimeDigits);
  // Digits stay below 16 whatever they are or-ed with; a non-digit (0xFF) does not.
  if ((bad & 0xF0u) != 0) return std::nullopt;
  return Stamp{static_cast<std::uint32_t>(sender), sequence, sent};
}

std::optional<Stamp> WireScanner::FindStamp(std::string_view packet) const {
  const void* hit = std::memchr(packet.data(), tilde_, packet.size());
  if (hit == nullptr) return std::nullopt;
  const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - packet.data());
  if (at < chatTypeField_.size() ||
      packet.compare(at - chatTypeField_.size(), chatTypeField_.size(), chatTypeField_) != 0) {
    return std::nullopt;
  }
  return ReadStamp(packet.substr(at));
}

std::string WireScanner::StampedBody(const Stamp& stamp, std::size_t padTo) {
  char text[kStampSize + 1];
  std::snprintf(text, sizeof text, "~%0*u%0*llu%0*llu.", static_cast<int>(kSenderDigits),
                stamp.sender % 100000u, static_cast<int>(kSequenceDigits),
                static_cast<unsigned long long>(stamp.sequence % 10000000000ull),
                static_cast<int>(kTimeDigits),
                static_cast<unsigned long long>(stamp.sentNs % 10000000000000000000ull));
  std::string body(text, kStampSize);
  if (body.size() < padTo) body.append(padTo - body.size(), 'x');
  return body;
}

std::string WireScanner::Decode(std::string_view wire) const {
  return codec_.DecodeText(wire);
}

}  // namespace orv::bench
