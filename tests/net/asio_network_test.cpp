#include "net/asio_network.h"

#include <gtest/gtest.h>

#include <asio/error.hpp>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "net_test_support.h"

namespace orv::test {
namespace {

using std::chrono::milliseconds;

TEST(AsioNetworkTest, ListenSaysWhyItCannot) {
  asio::io_context io;
  RecordingEvents events;
  AsioNetwork first(io, 1024);
  std::string error;
  ASSERT_TRUE(first.Listen("127.0.0.1", 0, events, &error)) << error;
  const auto port = first.LocalPort();
  ASSERT_NE(port, 0);

  AsioNetwork second(io, 1024);
  EXPECT_FALSE(second.Listen("127.0.0.1", port, events, &error));
  EXPECT_NE(error.find("127.0.0.1:" + std::to_string(port)), std::string::npos) << error;
  EXPECT_GT(error.size(), std::string("cannot bind 127.0.0.1:").size() + 6) << error;

  for (const std::string bad : {"localhost", "300.1.1.1", "1.2.3", " 127.0.0.1"}) {
    error.clear();
    EXPECT_FALSE(second.Listen(bad, 0, events, &error));
    EXPECT_EQ(error, "cannot read listening address '" + bad + "'");
  }
  for (const int badPort : {-1, 65536}) {
    error.clear();
    EXPECT_FALSE(second.Listen("127.0.0.1", badPort, events, &error));
    EXPECT_NE(error.find(std::to_string(badPort)), std::string::npos) << error;
  }
  EXPECT_EQ(second.LocalPort(), 0);
}

TEST(AsioNetworkTest, EmptyAddressListensEverywhereAndAcceptsInOrder) {
  asio::io_context io;
  RecordingEvents events;
  AsioNetwork network(io, 1024);
  std::string error;
  ASSERT_TRUE(network.Listen("", 0, events, &error)) << error;
  const auto port = network.LocalPort();
  ASSERT_NE(port, 0);

  // The engine may close a connection while hearing of it: it is never read.
  int acceptedSoFar = 0;
  events.onAccepted = [&](Connection& connection) {
    if (++acceptedSoFar == 2) connection.Close();
  };
  // All three wait in the backlog before the server looks, so that they are taken in one
  // burst; each says who it is, so the order of the accepts shows in what each one read.
  asio::io_context clientIo;
  std::vector<asio::ip::tcp::socket> clients;
  for (int i = 0; i < 3; ++i) {
    clients.emplace_back(clientIo);
    clients.back().connect({asio::ip::make_address_v4("127.0.0.1"), port});
    asio::write(clients.back(), asio::buffer("hi " + std::to_string(i)));
  }
  ASSERT_TRUE(RunUntil(io, [&] {
    return events.accepted.size() == 3 &&
           events.by[events.accepted[0]->Key()].receives.size() == 1 &&
           events.by[events.accepted[2]->Key()].receives.size() == 1;
  }));
  EXPECT_EQ(events.Received(*events.accepted[0]), "hi 0");
  EXPECT_TRUE(events.by[events.accepted[1]->Key()].receives.empty());
  EXPECT_EQ(events.Received(*events.accepted[2]), "hi 2");
  EXPECT_TRUE(RunUntil(io, [&] { return network.OpenConnections() == 2; }));

  // Shutdown: no new connections, every open one closed, and the drain callback fires.
  network.StopListening();
  EXPECT_EQ(network.LocalPort(), 0);
  bool drained = false;
  network.CloseAll();
  network.WhenAllClosed([&] { drained = true; });
  EXPECT_TRUE(RunUntil(io, [&] { return drained; }));
  asio::ip::tcp::socket late(clientIo);
  std::error_code refused;
  late.connect({asio::ip::make_address_v4("127.0.0.1"), port}, refused);
  EXPECT_EQ(refused, asio::error::connection_refused) << refused.message();
}

// One client writes as fast as it can: the server reads it at the input rate after a first
// burst, in order and without losing a byte, and another client is read meanwhile as usual.
// A new rate reaches a connection that is waiting for its bucket at once.
TEST(AsioNetworkTest, EachConnectionIsReadNoFasterThanTheInputRateAndLosesNothing) {
  constexpr std::int64_t kRate = 2 << 20;
  constexpr std::size_t kBurst = 512 * 1024;  // half the write limit
  constexpr std::size_t kTotal = 6 << 20;
  constexpr std::size_t kFirstPart = 2 << 20;
  Loopback server(std::size_t{1} << 20);
  ASSERT_TRUE(server.listening);
  server.network.SetInputRate(kRate);
  asio::io_context clientIo;
  auto flooder = server.Connect(clientIo);
  auto calm = server.Connect(clientIo);
  const ConnectionKey flooderKey = server.events.accepted[0]->Key();
  const ConnectionKey calmKey = server.events.accepted[1]->Key();

  std::string sent(kTotal, '\0');
  for (std::size_t i = 0; i < sent.size(); ++i)
    sent[i] = static_cast<char>('a' + (i / 1000) % 26);
  const auto start = Clock::now();
  std::thread writer([&] {
    std::error_code ignored;
    asio::write(flooder, asio::buffer(sent), ignored);
  });
  std::string received;
  std::size_t taken = 0;  // receives appended to received so far
  auto collect = [&] {
    auto& receives = server.events.by[flooderKey].receives;
    for (; taken < receives.size(); ++taken)
      received += receives[taken];
  };

  // Never ahead of the bucket: the burst, the rate since the start, and the one receive
  // that may overdraw it.
  bool calmSpoke = false;
  bool calmHeardEarly = false;
  std::size_t mostAhead = 0;
  const auto deadline = start + std::chrono::seconds(20);
  while (received.size() < kFirstPart && Clock::now() < deadline) {
    server.io.restart();
    server.io.run_for(milliseconds(5));
    collect();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const auto allowed = static_cast<std::size_t>(kBurst + seconds * kRate) + 4096;
    if (received.size() > allowed) mostAhead = std::max(mostAhead, received.size() - allowed);
    if (!calmSpoke && received.size() > kBurst) {
      asio::write(calm, asio::buffer(std::string("hello")));
      calmSpoke = true;
    }
    if (calmSpoke && !calmHeardEarly) {
      calmHeardEarly = server.events.Received(*server.events.accepted[1]) == "hello";
    }
  }
  const auto firstPartTook = Clock::now() - start;
  EXPECT_EQ(mostAhead, 0u) << "bytes read beyond the input rate";
  EXPECT_GE(firstPartTook, milliseconds((kFirstPart - kBurst - 4096) * 1000 / kRate));
  EXPECT_TRUE(calmHeardEarly) << "the other client waited for the fast one";
  EXPECT_EQ(server.events.by[calmKey].receives.size(), 1u);

  // Without a limit the rest comes at once, although the connection was waiting.
  server.network.SetInputRate(0);
  const auto unlimited = Clock::now();
  while (received.size() < kTotal && Clock::now() < deadline) {
    server.io.restart();
    server.io.run_for(milliseconds(5));
    collect();
  }
  // At the old rate this would take two seconds.
  EXPECT_LT(Clock::now() - unlimited, milliseconds((kTotal - kFirstPart) * 1000 / kRate * 3 / 4));
  writer.join();
  ASSERT_EQ(received.size(), sent.size());
  EXPECT_TRUE(received == sent) << "the bytes came out of order";
  EXPECT_EQ(server.events.by[flooderKey].overflows, 0);
}

}  // namespace
}  // namespace orv::test
