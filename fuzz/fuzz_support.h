// What every fuzz target shares: a reader that takes the input from front to back (so seed
// inputs can be written by hand or by fuzz/make_corpus.py), a check that stops the run with
// a message, and one scratch folder per fuzzing process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "support/temp_folder.h"

namespace orv::fuzz {

// A property that must hold for every input; a failure is a finding, reported like a crash.
[[noreturn]] inline void Fail(const char* file, int line, const char* what,
                              const std::string& detail) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n%s\n", file, line, what, detail.c_str());
  std::abort();
}

#define ORV_FUZZ_CHECK(condition, detail)                                          \
  do {                                                                             \
    if (!(condition)) ::orv::fuzz::Fail(__FILE__, __LINE__, #condition, (detail)); \
  } while (false)

// The input, read from the front. Past the end every read gives zeros and empty texts, so a
// short input is simply a short script.
class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size)
      : data_(reinterpret_cast<const char*>(data), size) {}

  bool Empty() const { return pos_ >= data_.size(); }
  std::size_t Remaining() const { return data_.size() - pos_; }

  std::uint8_t Byte() { return Empty() ? 0 : static_cast<std::uint8_t>(data_[pos_++]); }
  bool Bool() { return (Byte() & 1) != 0; }
  // A number in [0, count), from one byte (count at most 256).
  std::size_t Pick(std::size_t count) { return count == 0 ? 0 : Byte() % count; }
  std::uint16_t U16() {
    const std::uint16_t high = Byte();
    return static_cast<std::uint16_t>(high << 8 | Byte());
  }
  std::uint32_t U32() {
    const std::uint32_t high = U16();
    return high << 16 | U16();
  }
  // Up to n bytes.
  std::string_view Bytes(std::size_t n) {
    const std::size_t take = n < Remaining() ? n : Remaining();
    const std::string_view bytes = data_.substr(pos_, take);
    pos_ += take;
    return bytes;
  }
  // A text of one length byte and then that many bytes.
  std::string_view Text() { return Bytes(Byte()); }
  // A text of a two-byte length and then that many bytes.
  std::string_view LongText() { return Bytes(U16()); }
  std::string_view Rest() { return Bytes(Remaining()); }

 private:
  std::string_view data_;
  std::size_t pos_ = 0;
};

// The fuzzing process's own folder, removed when the process ends normally.
inline const std::filesystem::path& ScratchFolder() {
  static const orv::testing::TempFolder folder;
  return folder.Path();
}

// Empties folder (creating it when needed), so that no input sees what an earlier one left.
inline void ResetFolder(const std::filesystem::path& folder) {
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  std::filesystem::create_directories(folder, ignored);
}

// Text shown in a failure message: printable bytes as they are, the others as \xNN.
inline std::string Shown(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F && c != '\\') {
      out += c;
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", b);
      out += escape;
    }
  }
  return out;
}

}  // namespace orv::fuzz
