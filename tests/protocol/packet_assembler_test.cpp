#include "protocol/packet_assembler.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace orv {
namespace {

constexpr std::string_view kEnd = "//end";

// Digits, dots and "(" begin a packet, as in the plain alphabet.
const StartBytes& PlainStart() {
  static const StartBytes start = [] {
    StartBytes table{};
    for (const char c : std::string_view("0123456789.("))
      table[static_cast<unsigned char>(c)] = true;
    return table;
  }();
  return start;
}

struct Fed {
  // Each packet with its trailer: trailer bytes that came in a later receive are added to
  // the packet they belong to, as the relay sends them after it.
  std::vector<std::string> packets;
  PacketAssembler::Result result = PacketAssembler::Result::kOk;
};

// Feeds the pieces in turn, as receives, until one of them ends otherwise than kOk.
Fed FeedPieces(const std::vector<std::string>& pieces, std::size_t limit,
               const StartBytes* start = nullptr) {
  Fed fed;
  PacketAssembler assembler;
  const Framing framing{kEnd, limit, start};
  for (const std::string& piece : pieces) {
    fed.result = assembler.Feed(
        piece, framing,
        [&](std::string_view packet) {
          fed.packets.emplace_back(packet);
          return true;
        },
        [&](std::string_view trailer) {
          EXPECT_FALSE(fed.packets.empty());
          if (!fed.packets.empty()) fed.packets.back().append(trailer);
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

// Clients that write four characters after each terminator: they stay with their packet,
// one packet a write or several joined, however TCP cuts the stream.
TEST(PacketAssembler, CharactersAfterTheTerminatorBelongToThePacketTheyFollow) {
  const std::string first = "10.9.8.7(AA)||anna||a||0.0||1||5||hi//end";
  const std::string second = "10.9.8.7(AA)||anna||a||0.0||1||5||again//end";
  for (const std::string trailer : {"ABCD", "\r\n\r\n", "\r\n", " "}) {
    SCOPED_TRACE("trailer \"" + trailer + "\"");
    const std::vector<std::string> expected = {first + trailer, second + trailer};
    EXPECT_EQ(FeedPieces({first + trailer, second + trailer}, 100, &PlainStart()).packets,
              expected);
    const std::string stream = first + trailer + second + trailer;
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
      SCOPED_TRACE("cut after " + std::to_string(cut) + " bytes");
      const Fed fed = FeedPieces({stream.substr(0, cut), stream.substr(cut)}, 100, &PlainStart());
      EXPECT_EQ(fed.packets, expected);
    }
  }
  // Without a table of start bytes nothing is a trailer: the next packet begins at once.
  EXPECT_EQ(FeedPieces({first + "ABCD" + second}, 100).packets,
            (std::vector<std::string>{first, "ABCD" + second}));
}

TEST(PacketAssembler, ATrailerEndsAtFourBytesAtAByteThatBeginsAPacketAndAtAZero) {
  const std::string packet = "1.2.3.4(AA)||n||a||0.0||1||2||1:x//end";
  auto packets = [](const std::string& stream) {
    return FeedPieces({stream}, 100, &PlainStart()).packets;
  };
  // The fifth byte begins the next packet.
  EXPECT_EQ(packets(packet + "ABCDE" + packet),
            (std::vector<std::string>{packet + "ABCD", "E" + packet}));
  // A line break, then at once the next packet's address.
  EXPECT_EQ(packets(packet + "\r\n" + packet), (std::vector<std::string>{packet + "\r\n", packet}));
  // Digits may begin the next packet's address: they are not taken for a trailer.
  EXPECT_EQ(packets(packet + "1234" + packet), (std::vector<std::string>{packet, "1234" + packet}));
  // A zero byte ends the trailer, as it ends everything else.
  EXPECT_EQ(packets(packet + "AB" + std::string(1, '\0') + packet),
            (std::vector<std::string>{packet + "AB", packet}));
  // A trailer split over three receives is still only four bytes long.
  EXPECT_EQ(FeedPieces({packet + "A", "BC", "DE" + packet}, 100, &PlainStart()).packets,
            (std::vector<std::string>{packet + "ABCD", "E" + packet}));
}

}  // namespace
}  // namespace orv
