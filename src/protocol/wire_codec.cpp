#include "protocol/wire_codec.h"

#include <cstdio>
#include <functional>
#include <string>
#include <utility>

#include "protocol/builtin_alphabets.h"

namespace orv {
namespace {

using Table = std::array<unsigned char, 256>;

constexpr std::array<bool, 256> MakeMembership() {
  std::array<bool, 256> member{};
  for (int c = 0x20; c <= 0x7E; ++c)
    member[c] = c != 0x5B && c != 0x5D;
  member[0xA8] = member[0xB8] = member[0xB9] = true;
  for (int c = 0xC0; c <= 0xFF; ++c)
    member[c] = true;
  return member;
}

constexpr std::array<bool, 256> kInSet = MakeMembership();

std::string HexByte(unsigned char c) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(c));
  return text;
}

// 'a' for printable ASCII, 0xNN otherwise: a byte named the way an operator can find it
// in the settings file. Bytes outside the set are always given in hex, as they may be
// invisible or look like another character.
std::string DescribeByte(unsigned char c) {
  if (c >= 0x20 && c <= 0x7E) return std::string{'\'', static_cast<char>(c), '\''};
  return HexByte(c);
}

Table IdentityTable() {
  Table table{};
  for (std::size_t i = 0; i < table.size(); ++i)
    table[i] = static_cast<unsigned char>(i);
  return table;
}

// One lookup per byte and no branch inside the loop: this runs on every byte received and
// every byte of every server packet.
void Translate(const Table& table, std::string_view text, std::string& out) {
  if (text.empty()) return;
  // std::less gives a total order even for pointers into unrelated buffers.
  const std::less<const char*> before;
  const char* outBegin = out.data();
  if (!before(text.data(), outBegin) && before(text.data(), outBegin + out.size())) {
    // The text lies inside out: growing out could move it, so translate a copy.
    const std::string copy(text);
    Translate(table, copy, out);
    return;
  }
  const std::size_t start = out.size();
  out.resize(start + text.size());
  const auto* src = reinterpret_cast<const unsigned char*>(text.data());
  char* dst = out.data() + start;
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i)
    dst[i] = static_cast<char>(table[src[i]]);
}

}  // namespace

std::string AlphabetCharacterSet() {
  std::string set;
  set.reserve(kAlphabetLength);
  for (int c = 0; c < 256; ++c) {
    if (kInSet[c]) set.push_back(static_cast<char>(c));
  }
  return set;
}

std::string CheckAlphabet(std::string_view text) {
  // The first stray or repeated byte, else the first missing character; a wrong length is
  // said first with that detail after it, so the operator learns what to add or remove.
  std::string detail;
  std::array<bool, 256> seen{};
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (!kInSet[c]) {
      detail = "character " + HexByte(c) + " is not in the alphabet set";
      break;
    }
    if (seen[c]) {
      detail = "character " + DescribeByte(c) + " appears twice";
      break;
    }
    seen[c] = true;
  }
  if (detail.empty()) {
    for (int c = 0; c < 256; ++c) {
      if (kInSet[c] && !seen[c]) {
        detail = "misses character " + DescribeByte(static_cast<unsigned char>(c));
        break;
      }
    }
  }
  if (text.size() != kAlphabetLength) {
    std::string problem = "is " + std::to_string(text.size()) + " bytes long, must be " +
                          std::to_string(kAlphabetLength);
    if (!detail.empty()) problem += " (" + detail + ")";
    return problem;
  }
  return detail;
}

WireCodec::WireCodec(std::string plain, std::string wire)
    : plain_(std::move(plain)),
      wire_(std::move(wire)),
      encode_(IdentityTable()),
      decode_(IdentityTable()) {
  for (std::size_t k = 0; k < plain_.size() && k < wire_.size(); ++k) {
    const auto p = static_cast<unsigned char>(plain_[k]);
    const auto w = static_cast<unsigned char>(wire_[k]);
    encode_[p] = w;
    decode_[w] = p;
  }
}

const WireCodec& WireCodec::BuiltIn() {
  static const WireCodec codec{std::string(kBuiltinPlainAlphabet),
                               std::string(kBuiltinWireAlphabet)};
  return codec;
}

std::optional<WireCodec> WireCodec::FromAlphabets(std::string_view plain, std::string_view wire,
                                                  std::string* error) {
  std::string problem = CheckAlphabet(plain);
  if (!problem.empty()) {
    problem = "the plain alphabet " + problem;
  } else if (problem = CheckAlphabet(wire); !problem.empty()) {
    problem = "the wire alphabet " + problem;
  }
  if (!problem.empty()) {
    if (error != nullptr) *error = std::move(problem);
    return std::nullopt;
  }
  if (error != nullptr) error->clear();
  return WireCodec(std::string(plain), std::string(wire));
}

std::string WireCodec::EncodeText(std::string_view text) const {
  std::string out;
  Translate(encode_, text, out);
  return out;
}

std::string WireCodec::DecodeText(std::string_view text) const {
  std::string out;
  Translate(decode_, text, out);
  return out;
}

void WireCodec::EncodeAppend(std::string_view text, std::string& out) const {
  Translate(encode_, text, out);
}

void WireCodec::DecodeAppend(std::string_view text, std::string& out) const {
  Translate(decode_, text, out);
}

}  // namespace orv
