#include "net/engine_host.h"

#include <gtest/gtest.h>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "server/chat_server.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

// Records what reaches the view; read by the test thread, so guarded.
class LockedView final : public EventSubscriber {
 public:
  void OnEvent(const EngineEvent& event) override {
    const auto* line = std::get_if<event::ConsoleLine>(&event);
    if (line == nullptr) return;
    std::lock_guard lock(mutex_);
    lines_.push_back(line->text);
  }

  std::vector<std::string> Lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

struct TempFolder {
  TempFolder() {
    path = fs::temp_directory_path() / ("orv-host-" + std::to_string(std::random_device()()));
    fs::create_directories(path);
    // Port "0" is one character, so the setting is ignored and the system picks a port.
    std::ofstream(path / "orvchatserver.cfg")
        << "<ServerIP>\n127.0.0.1\n</ServerIP>\n<ServerPort>\n0\n</ServerPort>\n";
    fs::create_directories(path / "language");
    std::ofstream(path / "language" / "lang_english.cfg") << "[STRINGS]\nSTR8=host stopped\n";
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  fs::path path;
};

TEST(EngineHostTest, RunsPostedWorkInOrderOnItsThreadAndStopsOnce) {
  TempFolder folder;
  auto view = std::make_shared<LockedView>();
  EngineOptions options;
  options.workDir = folder.path;
  options.subscribers.push_back(view);
  // Set by work posted after the shutdown, which must never run.
  std::atomic<bool> ranLate{false};
  {
    EngineHost host(options);
    EXPECT_FALSE(host.IsEngineThread());

    std::promise<bool> signalled;
    host.SetSignalHandler([&] { signalled.set_value(host.IsEngineThread()); });
    host.Start();
    // Start-up has run by the time Start returns.
    const auto startLines = view->Lines();
    ASSERT_FALSE(startLines.empty());
    EXPECT_EQ(startLines.front().rfind("ORV Chat Server ", 0), 0u) << startLines.front();

    std::vector<int> order;
    std::atomic<int> offThread{0};
    std::promise<void> done;
    for (int i = 0; i < 100; ++i) {
      host.Post([&, i](ChatServer& server) {
        if (!host.IsEngineThread() || !server.IsListening()) ++offThread;
        order.push_back(i);
        if (i == 99) done.set_value();
      });
    }
    ASSERT_EQ(done.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(offThread, 0);
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i)
      EXPECT_EQ(order[i], i);

    // A signal becomes a call of the handler on the engine thread, not a process exit.
    std::raise(SIGTERM);
    auto heard = signalled.get_future();
    ASSERT_EQ(heard.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_TRUE(heard.get());

    host.Shutdown();
    host.Shutdown();
    host.Post([&](ChatServer&) { ranLate = true; });
    // A loop still running would take the work within a few milliseconds.
    for (int i = 0; i < 20 && !ranLate; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(ranLate);
  }
  // Whatever was still queued is gone with the host, and none of it ran.
  EXPECT_FALSE(ranLate);
  // The shutdown ran on the engine: its last line is in the day's log.
  std::string log;
  for (const auto& entry : fs::directory_iterator(folder.path / "logs")) {
    std::ifstream in(entry.path());
    log.append(std::istreambuf_iterator<char>(in), {});
  }
  EXPECT_NE(log.find("host stopped"), std::string::npos) << log;
}

TEST(EngineHostTest, GivesMemoryBackOnceABurstOfOutputIsOver) {
  // A port of our own: the engine does not tell which one the system chose.
  asio::io_context clientIo;
  asio::ip::tcp::acceptor probe(clientIo, {asio::ip::make_address_v4("127.0.0.1"), 0});
  const auto port = probe.local_endpoint().port();
  probe.close();
  TempFolder folder;
  std::ofstream(folder.path / "orvchatserver.cfg", std::ios::trunc)
      << "<ServerIP>\n127.0.0.1\n</ServerIP>\n<ServerPort>\n"
      << port
      << "\n</ServerPort>\n"
      // The burst comes from one client, which the input rate would spread over seconds.
      << "<MaxInputRate>\n0\n</MaxInputRate>\n";
  auto view = std::make_shared<LockedView>();
  std::atomic<int> releases{0};
  EngineOptions options;
  options.workDir = folder.path;
  options.subscribers.push_back(view);
  options.releaseFreeMemory = [&] { ++releases; };
  EngineHost host(options);
  host.Start();

  // Quiet: nothing to give back.
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  EXPECT_EQ(releases, 0);

  // Four megabytes relayed back to the one client, then silence.
  asio::ip::tcp::socket client(clientIo);
  client.connect({asio::ip::make_address_v4("127.0.0.1"), port});
  const std::string chunk = WireCodec::BuiltIn().EncodeText("127.0.0.1(AA)||n||a||0.0||0||5||" +
                                                            std::string(60 * 1024, 'x') + "//end");
  std::size_t received = 0;
  std::vector<char> buffer(1 << 16);
  client.non_blocking(true);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  auto readSome = [&] {
    std::error_code error;
    received += client.read_some(asio::buffer(buffer), error);
    if (error) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  for (int i = 0; i < 64 && std::chrono::steady_clock::now() < deadline; ++i) {
    for (std::size_t sent = 0;
         sent < chunk.size() && std::chrono::steady_clock::now() < deadline;) {
      std::error_code error;
      sent += client.write_some(asio::buffer(chunk.data() + sent, chunk.size() - sent), error);
      readSome();
    }
    while (received < chunk.size() * (i + 1) / 2 && std::chrono::steady_clock::now() < deadline)
      readSome();
  }
  while (releases == 0 && std::chrono::steady_clock::now() < deadline)
    readSome();
  EXPECT_GE(releases, 1);
  EXPECT_GE(received, chunk.size() * 32);
  host.Shutdown();
}

}  // namespace
}  // namespace orv
