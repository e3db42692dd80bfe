// Why a user is refused: the block-list check answers with it and the user's record keeps
// it. The numbers are those of the menu's and the console's rules (0 none, 1 IP, 2 MAC,
// 3 name), and 4 for the address the connection comes from, which the client cannot choose.
#pragma once

#include <cstdint>
#include <string_view>

namespace orv {

enum class BlockState : std::int32_t { kNone = 0, kIp = 1, kMac = 2, kName = 3, kAddress = 4 };

// "IP", "MAC", "NAME" or "address"; empty for kNone.
constexpr std::string_view BlockStateText(BlockState state) {
  switch (state) {
    case BlockState::kIp:
      return "IP";
    case BlockState::kMac:
      return "MAC";
    case BlockState::kName:
      return "NAME";
    case BlockState::kAddress:
      return "address";
    case BlockState::kNone:
      break;
  }
  return {};
}

}  // namespace orv
