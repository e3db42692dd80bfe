#include "protocol/packet_assembler.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace orv {
namespace {

constexpr std::string_view kEnd = "//end";

struct Fed {
  std::vector<std::string> packets;
  PacketAssembler::Result result = PacketAssembler::Result::kOk;
};

// Feeds the pieces in turn, as receives, until one of them ends otherwise than kOk.
Fed FeedPieces(const std::vector<std::string>& pieces, std::size_t limit) {
  Fed fed;
  PacketAssembler assembler;
  for (const std::string& piece : pieces) {
    fed.result = assembler.Feed(piece, kEnd, limit, [&](std::string_view packet) {
      fed.packets.emplace_back(packet);
      return true;
    });
    if (fed.result != PacketAssembler::Result::kOk) break;
  }
  return fed;
}

TEST(PacketAssembler, APacketOfExactlyTheLimitIsTakenWhereverTheReceivesSplitIt) {
  const std::size_t limit = 20;
  const std::string packet = std::string(limit, 'x') + std::string(kEnd);
  for (std::size_t cut = 0; cut <= packet.size(); ++cut) {
    SCOPED_TRACE("cut after " + std::to_string(cut) + " bytes");
    const Fed fed = FeedPieces({packet.substr(0, cut), packet.substr(cut)}, limit);
    EXPECT_EQ(fed.result, PacketAssembler::Result::kOk);
    EXPECT_EQ(fed.packets, std::vector<std::string>{packet});
  }
  // One byte more is too long, however it arrives.
  const std::string longer = "y" + packet;
  for (std::size_t cut = 0; cut <= longer.size(); ++cut) {
    SCOPED_TRACE("cut after " + std::to_string(cut) + " bytes");
    const Fed fed = FeedPieces({longer.substr(0, cut), longer.substr(cut)}, limit);
    EXPECT_EQ(fed.result, PacketAssembler::Result::kOverflow);
    EXPECT_TRUE(fed.packets.empty());
  }
}

TEST(PacketAssembler, TooManyBytesBeforeAZeroByteOverflowInOneReceiveOrTwo) {
  const std::size_t limit = 20;
  // limit + 4 bytes could still end in a terminator; one more cannot.
  const std::string fits(limit + kEnd.size() - 1, 'x');
  const std::string tooMany(limit + kEnd.size(), 'x');
  const std::string next = std::string("\0", 1) + "ok" + std::string(kEnd);
  EXPECT_EQ(FeedPieces({fits + next}, limit).packets, std::vector<std::string>{"ok//end"});
  EXPECT_EQ(FeedPieces({fits, next}, limit).packets, std::vector<std::string>{"ok//end"});
  EXPECT_EQ(FeedPieces({tooMany + next}, limit).result, PacketAssembler::Result::kOverflow);
  EXPECT_EQ(FeedPieces({tooMany, next}, limit).result, PacketAssembler::Result::kOverflow);
}

}  // namespace
}  // namespace orv
