// The fixed character substitution every packet travels through. Two 160-character
// alphabets, permutations of the same set (printable ASCII without "[" and "]", plus the
// Windows-1251 codes 0xA8, 0xB8, 0xB9 and 0xC0 to 0xFF); other bytes pass unchanged.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace orv {

inline constexpr std::size_t kAlphabetLength = 160;

// The 160 characters in code order (the set both alphabets must be a permutation of).
std::string AlphabetCharacterSet();

// Empty when text is a permutation of the set, else what is wrong, in words, to follow the
// name of the setting: "is 159 bytes long, must be 160 (misses character 'q')",
// "character 0x5B is not in the alphabet set", "character 'a' appears twice".
std::string CheckAlphabet(std::string_view text);

class WireCodec {
 public:
  // The built-in pair (see docs/protocol.md and tools/make_alphabets.py).
  static const WireCodec& BuiltIn();
  // A pair given by the operator; nothing, with error set, when either is not a valid
  // alphabet ("the plain alphabet ..." or "the wire alphabet ...", see CheckAlphabet).
  static std::optional<WireCodec> FromAlphabets(std::string_view plain, std::string_view wire,
                                                std::string* error);

  std::string EncodeText(std::string_view text) const;
  std::string DecodeText(std::string_view text) const;
  // Appending forms for reused buffers. Length is preserved; bytes outside the set pass
  // unchanged.
  void EncodeAppend(std::string_view text, std::string& out) const;
  void DecodeAppend(std::string_view text, std::string& out) const;

  const std::string& PlainAlphabet() const { return plain_; }
  const std::string& WireAlphabet() const { return wire_; }

 private:
  WireCodec(std::string plain, std::string wire);
  std::string plain_;
  std::string wire_;
  std::array<unsigned char, 256> encode_{};
  std::array<unsigned char, 256> decode_{};
};

}  // namespace orv
