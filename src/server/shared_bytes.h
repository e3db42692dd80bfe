// One buffer of bytes shared by every connection it is queued for (a broadcast), or held by
// one (an answer). Only the engine thread holds these, so the count needs no atomics, and a
// reference is one pointer: in a login storm of two thousand clients every connection
// queues thousands of references, and a shared_ptr's two pointers doubled that memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace orv {

class SharedBytes {
 public:
  SharedBytes() = default;
  SharedBytes(std::nullptr_t) {}  // NOLINT: null converts, as for a pointer
  SharedBytes(const SharedBytes& other) : block_(other.block_) {
    if (block_ != nullptr) ++block_->references;
  }
  SharedBytes(SharedBytes&& other) noexcept : block_(std::exchange(other.block_, nullptr)) {}
  SharedBytes& operator=(SharedBytes other) noexcept {
    std::swap(block_, other.block_);
    return *this;
  }
  ~SharedBytes() { reset(); }

  // A new buffer holding text, with this one reference to it.
  static SharedBytes Make(std::string text = std::string()) {
    SharedBytes made;
    made.block_ = new Block{std::move(text), 1};
    return made;
  }

  const std::string& operator*() const { return block_->bytes; }
  const std::string* operator->() const { return &block_->bytes; }
  explicit operator bool() const { return block_ != nullptr; }
  std::size_t use_count() const { return block_ == nullptr ? 0 : block_->references; }
  // The bytes to add to, for the one who made the buffer while nobody else holds it.
  std::string& Unshared() const { return block_->bytes; }

  void reset() {
    if (block_ != nullptr && --block_->references == 0) delete block_;
    block_ = nullptr;
  }

  friend bool operator==(const SharedBytes& a, std::nullptr_t) { return a.block_ == nullptr; }

 private:
  struct Block {
    std::string bytes;
    std::size_t references;
  };
  Block* block_ = nullptr;
};

}  // namespace orv
