// How the engine knows a connection: one number, unique among live connections and stable
// for the connection's life. The empty key (0) stands for no connection, as for packets the
// server makes itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace orv {

struct ConnectionKey {
  std::int32_t value = 0;

  explicit operator bool() const { return value != 0; }
  bool operator==(const ConnectionKey&) const = default;
  // The key as the console and the log show it ("%d").
  std::string Text() const { return std::to_string(value); }
};

}  // namespace orv

template <>
struct std::hash<orv::ConnectionKey> {
  std::size_t operator()(orv::ConnectionKey key) const noexcept {
    return std::hash<std::int32_t>{}(key.value);
  }
};
