#include "net/asio_network.h"

#include <gtest/gtest.h>

#include <asio/error.hpp>
#include <string>
#include <vector>

#include "net_test_support.h"

namespace orv::test {
namespace {

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

}  // namespace
}  // namespace orv::test
