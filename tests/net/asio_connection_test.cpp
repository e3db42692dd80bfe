#include "net/asio_connection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <asio/socket_base.hpp>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net_test_support.h"

namespace orv::test {
namespace {

using std::chrono::milliseconds;

TEST(AsioConnectionTest, EachReceiveIsOneUnitOfAtMost4096Bytes) {
  Loopback server;
  ASSERT_TRUE(server.listening);
  asio::io_context clientIo;

  // Everything is on its way before the server runs, so the split is the buffer's.
  asio::ip::tcp::socket first(clientIo);
  first.connect({asio::ip::make_address_v4("127.0.0.1"), server.network.LocalPort()});
  std::string big(4097, 'x');
  big[100] = '\0';  // a zero byte is the engine's business: it must arrive as it was sent
  big[4096] = 'z';
  asio::write(first, asio::buffer(big));
  asio::ip::tcp::socket second(clientIo);
  second.connect({asio::ip::make_address_v4("127.0.0.1"), server.network.LocalPort()});

  ASSERT_TRUE(RunUntil(server.io, [&] {
    return server.events.accepted.size() == 2 &&
           server.events.by[server.events.accepted[0]->Key()].receives.size() == 2;
  }));
  auto& a = *server.events.accepted[0];
  auto& b = *server.events.accepted[1];
  const auto& pieces = server.events.by[a.Key()].receives;
  EXPECT_EQ(pieces[0].size(), 4096u);
  EXPECT_EQ(pieces[0], big.substr(0, 4096));
  EXPECT_EQ(pieces[1], "z");

  // Keys are never 0 and differ; the address is the dotted peer address.
  EXPECT_TRUE(a.Key());
  EXPECT_TRUE(b.Key());
  EXPECT_NE(a.Key(), b.Key());
  EXPECT_EQ(a.PeerAddress(), "127.0.0.1");

  // An orderly close of the peer is reported once, and nothing else.
  first.shutdown(asio::ip::tcp::socket::shutdown_both);
  first.close();
  ASSERT_TRUE(RunUntil(server.io, [&] { return server.events.by[a.Key()].peerClosed == 1; }));
  server.io.restart();
  server.io.run_for(milliseconds(50));
  EXPECT_EQ(server.events.by[a.Key()].peerClosed, 1);
  EXPECT_EQ(server.events.by[a.Key()].receiveErrors, 0);
  EXPECT_EQ(server.events.by[b.Key()].peerClosed, 0);
}

TEST(AsioConnectionTest, HoldDelaysOnlyLaterOutputOfItsConnection) {
  Loopback server;
  asio::io_context clientIo;
  auto heldClient = server.Connect(clientIo);
  auto otherClient = server.Connect(clientIo);
  auto held = server.events.accepted[0];
  auto other = server.events.accepted[1];

  const auto start = Clock::now();
  held->Send(Bytes("first"));
  held->HoldOutput(milliseconds(300));
  held->Send(Bytes("second"));
  other->Send(Bytes("meanwhile"));

  EXPECT_EQ(ReadAtLeast(server.io, otherClient, 9), "meanwhile");
  EXPECT_LT(Clock::now() - start, milliseconds(250));
  EXPECT_EQ(ReadAtLeast(server.io, heldClient, 5), "first");
  EXPECT_EQ(ReadAtLeast(server.io, heldClient, 6), "second");
  EXPECT_GE(Clock::now() - start, milliseconds(290));

  // Close skips holds that have not run out: the rest goes out at once, then the close.
  held->Send(Bytes("x"));
  held->HoldOutput(milliseconds(5000));
  held->Send(Bytes("y"));
  const auto closing = Clock::now();
  held->Close();
  bool closed = false;
  EXPECT_EQ(ReadAtLeast(server.io, heldClient, 100, milliseconds(3000), &closed), "xy");
  EXPECT_TRUE(closed);
  EXPECT_LT(Clock::now() - closing, milliseconds(1500));
}

TEST(AsioConnectionTest, QueuedOutputKeepsItsOrderAndCloseWritesItAll) {
  Loopback server;
  asio::io_context clientIo;
  auto client = server.Connect(clientIo);
  auto connection = server.events.accepted[0];

  std::string expected;
  for (int i = 0; i < 2000; ++i) {
    std::string piece = std::to_string(i) + ":" + std::string(i % 700, 'a' + i % 26) + ";";
    expected += piece;
    connection->Send(Bytes(piece));
    if (i % 500 == 0) connection->HoldOutput(milliseconds(1));
  }
  ASSERT_LT(expected.size(), std::size_t{1} << 20);
  connection->Close();
  // After Close nothing more is queued and nothing is reported.
  connection->Send(Bytes("late"));
  asio::write(client, asio::buffer(std::string("ignored")));

  bool closed = false;
  const std::string got =
      ReadAtLeast(server.io, client, expected.size() + 100, milliseconds(5000), &closed);
  EXPECT_TRUE(closed);
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);
  server.io.restart();
  server.io.run_for(milliseconds(50));
  EXPECT_TRUE(server.events.by[connection->Key()].receives.empty());
  EXPECT_EQ(server.events.by[connection->Key()].peerClosed, 0);
}

TEST(AsioConnectionTest, SlowReaderOverflowsAloneAndIsReportedOnce) {
  constexpr std::size_t kLimit = 64 * 1024;
  Loopback server(kLimit);
  asio::io_context clientIo;
  asio::ip::tcp::socket slowClient(clientIo);
  slowClient.open(asio::ip::tcp::v4());
  slowClient.set_option(asio::socket_base::receive_buffer_size(4096));
  slowClient.connect({asio::ip::make_address_v4("127.0.0.1"), server.network.LocalPort()});
  ASSERT_TRUE(RunUntil(server.io, [&] { return server.events.accepted.size() == 1; }));
  auto fastClient = server.Connect(clientIo);
  auto slow = server.events.accepted[0];
  auto fast = server.events.accepted[1];

  // Broadcast-style: the same buffer to both, while only the fast client reads.
  std::string fastGot;
  std::size_t sent = 0;
  for (int round = 0; round < 4000 && server.events.by[slow->Key()].overflows == 0; ++round) {
    auto chunk = Bytes(std::string(8192, static_cast<char>('a' + round % 26)));
    slow->Send(chunk);
    fast->Send(chunk);
    sent += chunk->size();
    fastGot += ReadAtLeast(server.io, fastClient, 1, milliseconds(200));
  }
  ASSERT_EQ(server.events.by[slow->Key()].overflows, 1);
  EXPECT_EQ(server.events.by[fast->Key()].overflows, 0);

  // The overflowed connection takes nothing more and reports nothing more.
  for (int i = 0; i < 20; ++i)
    slow->Send(Bytes(std::string(kLimit, 'q')));
  fast->Send(Bytes("end"));
  sent += 3;
  fastGot += ReadAtLeast(server.io, fastClient, sent - fastGot.size(), milliseconds(5000));
  EXPECT_EQ(fastGot.size(), sent);
  EXPECT_EQ(fastGot.substr(fastGot.size() - 3), "end");
  EXPECT_EQ(server.events.by[slow->Key()].overflows, 1);
  EXPECT_TRUE(RunUntil(server.io, [&] { return server.network.OpenConnections() == 1; }));
}

// Counts pieces of a fixed pattern; remembers how far it had got when asked for more.
class PatternSource final : public OutputSource {
 public:
  PatternSource(int pieces, std::size_t pieceBytes, int* made)
      : pieces_(pieces), pieceBytes_(pieceBytes), made_(made) {}
  bool Next(std::string& out) override {
    out.append(pieceBytes_, static_cast<char>('A' + *made_ % 26));
    ++*made_;
    return *made_ < pieces_;
  }

 private:
  int pieces_;
  std::size_t pieceBytes_;
  int* made_;
};

TEST(AsioConnectionTest, OutputFromASourceIsMadeAsTheReaderTakesItWhateverTheLimit) {
  constexpr std::size_t kLimit = 64 * 1024;
  Loopback server(kLimit);
  asio::io_context clientIo;
  asio::ip::tcp::socket client(clientIo);
  client.open(asio::ip::tcp::v4());
  client.set_option(asio::socket_base::receive_buffer_size(8192));
  client.connect({asio::ip::make_address_v4("127.0.0.1"), server.network.LocalPort()});
  ASSERT_TRUE(RunUntil(server.io, [&] { return server.events.accepted.size() == 1; }));
  auto connection = server.events.accepted[0];

  // Sixteen megabytes, 256 times the queue's bound, between two ordinary sends.
  constexpr int kPieces = 16384;
  constexpr std::size_t kPiece = 1024;
  int made = 0;
  connection->Send(Bytes("before|"));
  connection->SendFrom(std::make_unique<PatternSource>(kPieces, kPiece, &made));
  connection->Send(Bytes("|after"));
  server.io.restart();
  server.io.run_for(milliseconds(50));
  // Nobody reads yet: the source has made only what fits into the sockets' buffers (a few
  // megabytes at most on loopback).
  EXPECT_LT(made, kPieces / 2);

  const std::size_t total = 7 + kPieces * kPiece + 6;
  const std::string got = ReadAtLeast(server.io, client, total, milliseconds(20000));
  ASSERT_EQ(got.size(), total);
  EXPECT_EQ(got.substr(0, 7), "before|");
  EXPECT_EQ(got.substr(total - 6), "|after");
  for (int i = 0; i < kPieces; i += 97) {
    EXPECT_EQ(got[7 + static_cast<std::size_t>(i) * kPiece], static_cast<char>('A' + i % 26)) << i;
  }
  EXPECT_EQ(made, kPieces);
  EXPECT_EQ(server.events.by[connection->Key()].overflows, 0);

  // A closing connection writes what is queued but asks its sources for nothing more.
  made = 0;
  connection->SendFrom(std::make_unique<PatternSource>(kPieces, kPiece, &made));
  connection->Send(Bytes("bye"));
  connection->Close();
  bool closed = false;
  const std::string last = ReadAtLeast(server.io, client, 1 << 20, milliseconds(3000), &closed);
  EXPECT_TRUE(closed);
  EXPECT_EQ(last, "bye");
  EXPECT_EQ(made, 0);
}

TEST(AsioConnectionTest, HoldsAndSourcesTakeTheirTurnsInQueueOrder) {
  Loopback server;
  asio::io_context clientIo;
  auto client = server.Connect(clientIo);
  auto connection = server.events.accepted[0];

  // Packets of its own (collected into blocks), a shared one, two holds and two sources.
  const SharedBytes shared = Bytes("s");
  int madeFirst = 0;
  int madeSecond = 0;
  const auto start = Clock::now();
  connection->Send(Bytes("a"));
  connection->HoldOutput(milliseconds(150));
  connection->SendFrom(std::make_unique<PatternSource>(3, 2, &madeFirst));
  connection->Send(Bytes("b"));
  connection->Send(shared);
  connection->HoldOutput(milliseconds(150));
  connection->SendFrom(std::make_unique<PatternSource>(2, 1, &madeSecond));
  connection->Send(Bytes("c"));

  EXPECT_EQ(ReadAtLeast(server.io, client, 1), "a");
  // Nothing behind a hold is made before the hold has run out.
  EXPECT_EQ(madeFirst, 0);
  EXPECT_EQ(ReadAtLeast(server.io, client, 8), "AABBCCbs");
  EXPECT_GE(Clock::now() - start, milliseconds(140));
  EXPECT_EQ(madeFirst, 3);
  EXPECT_EQ(madeSecond, 0);
  EXPECT_EQ(ReadAtLeast(server.io, client, 3), "ABc");
  EXPECT_GE(Clock::now() - start, milliseconds(290));
}

TEST(AsioConnectionTest, OutputWaitingBehindAHoldIsNoSlowReadersBacklog) {
  constexpr std::size_t kLimit = 16 * 1024;
  Loopback server(kLimit);
  asio::io_context clientIo;
  auto client = server.Connect(clientIo);
  auto connection = server.events.accepted[0];

  // Twice the limit piles up while the connection is held; the reader takes it all once
  // the hold is over.
  connection->HoldOutput(milliseconds(300));
  for (int i = 0; i < 32; ++i)
    connection->Send(Bytes(std::string(1024, static_cast<char>('a' + i % 26))));
  const std::string got = ReadAtLeast(server.io, client, 32 * 1024, milliseconds(3000));
  EXPECT_EQ(got.size(), 32u * 1024);
  EXPECT_EQ(server.events.by[connection->Key()].overflows, 0);

  // A client held again and again while it reads nothing is still bounded.
  for (int round = 0; round < 40 && server.events.by[connection->Key()].overflows == 0; ++round) {
    connection->HoldOutput(milliseconds(1000));
    for (int i = 0; i < 16; ++i)
      connection->Send(Bytes(std::string(1024, 'h')));
    server.io.restart();
    server.io.run_for(milliseconds(1));
  }
  EXPECT_TRUE(
      RunUntil(server.io, [&] { return server.events.by[connection->Key()].overflows == 1; }));
}

// A client that reads nothing and keeps a hold alive (it asks for answers all the time) is
// closed as a slow reader before its queue holds more than twice the write limit: while its
// hold runs, and while a hold waits behind output it has not read.
TEST(AsioConnectionTest, AReaderHeldAgainAndAgainHoldsAtMostTwiceTheWriteLimit) {
  constexpr std::size_t kLimit = 64 * 1024;
  constexpr std::size_t kPiece = 2048;
  Loopback server(kLimit);
  asio::io_context clientIo;
  std::vector<asio::ip::tcp::socket> silent;
  auto connectSilent = [&] {
    silent.emplace_back(clientIo);
    silent.back().open(asio::ip::tcp::v4());
    silent.back().set_option(asio::socket_base::receive_buffer_size(4096));
    silent.back().connect({asio::ip::make_address_v4("127.0.0.1"), server.network.LocalPort()});
    const std::size_t before = server.events.accepted.size();
    EXPECT_TRUE(RunUntil(server.io, [&] { return server.events.accepted.size() > before; }));
    return server.events.accepted.back();
  };
  // What one round of a busy room brings: the answer the client asked for, held, and a
  // packet shared with everybody.
  auto round = [&](Connection& connection) {
    connection.Send(Bytes(std::string(kPiece, 'a')));
    connection.HoldOutput(milliseconds(500));
    connection.Send(SharedBytes::Make(std::string(kPiece, 'b')));
    server.io.restart();
    server.io.poll();
  };
  auto mostQueued = [&](Connection& connection) {
    auto* raw = dynamic_cast<AsioConnection*>(&connection);
    std::size_t most = 0;
    for (int i = 0; i < 2000 && server.events.by[connection.Key()].overflows == 0; ++i) {
      most = std::max(most, raw->QueuedBytes());
      round(connection);
    }
    return most;
  };

  // Held from the start: everything waits behind the running hold.
  auto held = connectSilent();
  held->HoldOutput(milliseconds(2000));
  const std::size_t heldMost = mostQueued(*held);
  EXPECT_EQ(server.events.by[held->Key()].overflows, 1);
  EXPECT_GT(heldMost, kLimit);
  EXPECT_LE(heldMost, 2 * kLimit);

  // The socket full of unread output first, then the holds wait behind it.
  auto stuck = connectSilent();
  auto* raw = dynamic_cast<AsioConnection*>(stuck.get());
  for (int i = 0; i < 4000 && raw->QueuedBytes() == 0; ++i) {
    stuck->Send(Bytes(std::string(kPiece, 's')));
    server.io.restart();
    server.io.poll();
  }
  ASSERT_GT(raw->QueuedBytes(), 0u) << "the socket took everything";
  const std::size_t stuckMost = mostQueued(*stuck);
  EXPECT_EQ(server.events.by[stuck->Key()].overflows, 1);
  EXPECT_LE(stuckMost, 2 * kLimit);
  EXPECT_TRUE(RunUntil(server.io, [&] { return server.network.OpenConnections() == 0; }));
}

TEST(AsioConnectionTest, WriteToAVanishedPeerIsReportedAsOnePeerClose) {
  Loopback server;
  asio::io_context clientIo;
  auto client = server.Connect(clientIo);
  auto connection = server.events.accepted[0];
  // A reset instead of an orderly close.
  client.set_option(asio::socket_base::linger(true, 0));
  client.close();
  ASSERT_TRUE(
      RunUntil(server.io, [&] { return server.events.by[connection->Key()].receiveErrors == 1; }));
  EXPECT_EQ(server.events.by[connection->Key()].peerClosed, 0);

  // The engine kept the connection; the first failing write makes it go away, once.
  for (int i = 0; i < 20 && server.network.OpenConnections() > 0; ++i) {
    connection->Send(Bytes("hello"));
    RunUntil(
        server.io, [] { return false; }, milliseconds(20));
  }
  ASSERT_TRUE(
      RunUntil(server.io, [&] { return server.events.by[connection->Key()].peerClosed == 1; }));
  connection->Send(Bytes("more"));
  RunUntil(
      server.io, [] { return false; }, milliseconds(50));
  EXPECT_EQ(server.events.by[connection->Key()].peerClosed, 1);
  EXPECT_EQ(server.network.OpenConnections(), 0u);
}

TEST(AsioConnectionTest, EndEventsPostedBeforeTheEnginesCloseNeverArrive) {
  constexpr std::size_t kLimit = 64 * 1024;
  Loopback server(kLimit);
  server.events.closeOnOverflow = false;
  asio::io_context clientIo;
  auto overflowClient = server.Connect(clientIo);
  auto resetClient = server.Connect(clientIo);
  auto keptClient = server.Connect(clientIo);
  auto overflowing = server.events.accepted[0];
  auto failing = server.events.accepted[1];
  auto kept = server.events.accepted[2];

  // An overflow inside the engine's own call, and the engine closes the connection before
  // the loop turns: it never hears of the overflow.
  overflowing->Send(Bytes(std::string(kLimit + 1, 'o')));
  EXPECT_EQ(server.events.by[overflowing->Key()].overflows, 0);
  overflowing->Close();

  // Writes that fail on a peer that reset: one connection is closed by the engine before
  // the loop turns, the other is not. The server loop does not run meanwhile, so neither
  // hears of the reset through a receive.
  for (auto* client : {&resetClient, &keptClient}) {
    client->set_option(asio::socket_base::linger(true, 0));
    client->close();
  }
  const auto big = Bytes(std::string(32 * 1024, 'w'));
  for (int i = 0; i < 200 && server.network.OpenConnections() > 1; ++i) {
    // Big enough to be written at once, inside Send.
    failing->Send(big);
    kept->Send(big);
    if (server.network.OpenConnections() > 1) std::this_thread::sleep_for(milliseconds(5));
  }
  ASSERT_EQ(server.network.OpenConnections(), 1u) << "the writes did not fail";
  failing->Close();

  server.io.restart();
  server.io.run_for(milliseconds(100));
  const auto& overflowEvents = server.events.by[overflowing->Key()];
  EXPECT_EQ(overflowEvents.overflows, 0);
  EXPECT_EQ(overflowEvents.peerClosed, 0);
  const auto& failedEvents = server.events.by[failing->Key()];
  EXPECT_EQ(failedEvents.peerClosed, 0);
  EXPECT_EQ(failedEvents.receiveErrors, 0);
  EXPECT_EQ(server.events.by[kept->Key()].peerClosed, 1);
  EXPECT_TRUE(RunUntil(server.io, [&] { return server.network.OpenConnections() == 0; }));
}

}  // namespace
}  // namespace orv::test

namespace orv::test {
namespace {

using std::chrono::milliseconds;

TEST(AsioConnectionTest, ReceivesOfManyConnectionsShareOneBufferWithoutMixing) {
  Loopback server;
  asio::io_context clientIo;
  // Everyone writes before the server looks, so that one turn of the loop reads them all
  // into the same buffer, one after the other.
  std::vector<asio::ip::tcp::socket> clients;
  std::vector<std::string> sent;
  for (int i = 0; i < 6; ++i) {
    clients.emplace_back(clientIo);
    clients.back().connect({asio::ip::make_address_v4("127.0.0.1"), server.network.LocalPort()});
    sent.push_back(std::string(1000 + 500 * i, static_cast<char>('a' + i)) + std::to_string(i));
    asio::write(clients.back(), asio::buffer(sent.back()));
  }
  ASSERT_TRUE(RunUntil(server.io, [&] {
    if (server.events.accepted.size() < clients.size()) return false;
    for (std::size_t i = 0; i < clients.size(); ++i) {
      if (server.events.Received(*server.events.accepted[i]).size() < sent[i].size()) return false;
    }
    return true;
  }));
  for (std::size_t i = 0; i < clients.size(); ++i)
    EXPECT_EQ(server.events.Received(*server.events.accepted[i]), sent[i]) << i;
}

TEST(AsioConnectionTest, SharedAndOwnBuffersKeepTheirOrderThroughPartialWrites) {
  Loopback server(std::size_t{16} << 20);
  asio::io_context clientIo;
  // A small receive window keeps the kernel from taking everything at once.
  asio::ip::tcp::socket client(clientIo);
  client.open(asio::ip::tcp::v4());
  client.set_option(asio::socket_base::receive_buffer_size(4096));
  client.connect({asio::ip::make_address_v4("127.0.0.1"), server.network.LocalPort()});
  ASSERT_TRUE(RunUntil(server.io, [&] { return server.events.accepted.size() == 1; }));
  auto otherClient = server.Connect(clientIo);
  auto connection = server.events.accepted[0];
  auto other = server.events.accepted[1];
  auto* raw = dynamic_cast<AsioConnection*>(connection.get());
  ASSERT_NE(raw, nullptr);

  // More than the kernel holds for one socket (at most 4 MiB on Linux) while the client
  // does not read: the socket fills, writes come back short, and the rest waits. Shared buffers
  // (also queued for another connection) and buffers sent to this connection alone alternate, with
  // holds between some of them.
  std::string expected;
  std::string expectedOther;
  for (int i = 0; i < 6000; ++i) {
    std::string piece = std::to_string(i) + ":" + std::string(1 + (i * 37) % 3000, 'a' + i % 26);
    expected += piece;
    if (i % 3 == 0) {
      const auto shared = Bytes(piece);
      connection->Send(shared);
      other->Send(shared);
      expectedOther += piece;
    } else {
      connection->Send(Bytes(std::move(piece)));
    }
    if (i % 1500 == 0) connection->HoldOutput(milliseconds(1));
    if (i % 50 == 0) {
      server.io.restart();
      server.io.poll();
    }
  }
  server.io.restart();
  server.io.poll();
  ASSERT_GT(raw->QueuedBytes(), 0u) << "the socket took everything: no short write to test";
  EXPECT_LE(raw->QueuedBytes(), expected.size());

  const std::string got = ReadAtLeast(server.io, client, expected.size(), milliseconds(10000));
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);
  EXPECT_EQ(ReadAtLeast(server.io, otherClient, expectedOther.size()), expectedOther);
  ASSERT_TRUE(RunUntil(server.io, [&] { return raw->QueuedBytes() == 0; }));
  EXPECT_GE(server.network.BytesWritten(), expected.size() + expectedOther.size());

  // With the queues given back, sending goes on as before.
  server.network.ReleaseIdleMemory();
  connection->Send(Bytes("after"));
  EXPECT_EQ(ReadAtLeast(server.io, client, 5), "after");

  // A reader that never reads overflows on buffers of its own as well, and only once.
  Loopback small(64 * 1024);
  asio::ip::tcp::socket silent(clientIo);
  silent.open(asio::ip::tcp::v4());
  silent.set_option(asio::socket_base::receive_buffer_size(4096));
  silent.connect({asio::ip::make_address_v4("127.0.0.1"), small.network.LocalPort()});
  ASSERT_TRUE(RunUntil(small.io, [&] { return small.events.accepted.size() == 1; }));
  auto stuck = small.events.accepted[0];
  for (int i = 0; i < 4000 && small.events.by[stuck->Key()].overflows == 0; ++i) {
    stuck->Send(Bytes(std::string(4000, 'z')));
    small.io.restart();
    small.io.poll();
  }
  EXPECT_EQ(small.events.by[stuck->Key()].overflows, 1);
  EXPECT_TRUE(RunUntil(small.io, [&] { return small.network.OpenConnections() == 0; }));
}

}  // namespace
}  // namespace orv::test
