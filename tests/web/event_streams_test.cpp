// The page's event streams: what a new one begins with, the wake-up contract with the HTTP
// side, and every bound (backlog, number of streams, sessions that end).
#include "web/event_streams.h"

#include <gtest/gtest.h>

#include <string>

namespace orv {
namespace {

// A reader that takes everything waiting, as the HTTP side does, and counts its suspends
// and resumes.
struct Reader {
  int suspends = 0;
  int resumes = 0;
  std::function<void()> Suspend() {
    return [this] { ++suspends; };
  }
  std::function<void()> Resume() {
    return [this] { ++resumes; };
  }
  // Everything the stream gives now; ended is set when it is over.
  std::string Drain(EventStream& stream, bool* ended = nullptr) {
    std::string taken;
    char buffer[100];
    for (;;) {
      const long n = stream.Read(buffer, sizeof buffer);
      if (n == EventStream::kEnd && ended) *ended = true;
      if (n <= 0) return taken;
      taken.append(buffer, static_cast<std::size_t>(n));
    }
  }
};

UserRow Anna() {
  UserRow row;
  row.mac = "AA";
  row.name = "\xC0\xED\xFF";  // "Аня"
  row.peerAddress = "10.0.0.7";
  return row;
}

class EventStreamsTest : public ::testing::Test {
 protected:
  std::chrono::steady_clock::time_point now_{std::chrono::hours(1)};
  WebSessions sessions_{std::chrono::minutes(30), [this] { return now_; }};
  EventStreams streams_{sessions_};
};

TEST_F(EventStreamsTest, AStreamBeginsWithTheLastConsoleLinesThenFollowsAndWakesItsReader) {
  for (int i = 0; i < 250; ++i)
    streams_.Deliver(event::ConsoleLine{"line " + std::to_string(i)});
  streams_.Deliver(event::UserJoined{Anna()});  // not kept for later streams
  Reader reader;
  const auto session = sessions_.Open("10.0.0.5");
  auto stream = streams_.Open(session.id, reader.Suspend(), reader.Resume());
  ASSERT_TRUE(stream);
  const std::string start = reader.Drain(*stream);
  EXPECT_EQ(start.rfind("retry: 3000\n\n", 0), 0u);
  EXPECT_EQ(start.find("line 49\""), std::string::npos);
  EXPECT_NE(start.find("event: console\ndata: {\"text\":\"line 50\"}\n\n"), std::string::npos);
  EXPECT_NE(start.find("line 249"), std::string::npos);
  EXPECT_EQ(start.find("joined"), std::string::npos);
  // Nothing waits: the reader was suspended, and the next event resumes it once.
  EXPECT_EQ(reader.suspends, 1);
  EXPECT_EQ(reader.resumes, 0);
  streams_.Deliver(event::UserJoined{Anna()});
  streams_.Deliver(event::UserLeft{Anna()});
  EXPECT_EQ(reader.resumes, 1);
  EXPECT_EQ(reader.Drain(*stream),
            "event: joined\ndata: {\"mac\":\"AA\",\"name\":\"Аня\",\"ip\":\"\","
            "\"address\":\"10.0.0.7\",\"block\":\"\",\"afs\":null}\n\n"
            "event: left\ndata: {\"mac\":\"AA\",\"name\":\"Аня\",\"ip\":\"\","
            "\"address\":\"10.0.0.7\",\"block\":\"\",\"afs\":null}\n\n");
  // A cleared console starts the history over; the page's texts are kept, not streamed.
  streams_.Deliver(event::ConsoleCleared{});
  streams_.Deliver(event::ConsoleLine{"fresh"});
  ViewTexts texts;
  texts.serverName = "Lobby";
  streams_.Deliver(event::Texts{texts});
  EXPECT_EQ(streams_.Texts()["serverName"], "Lobby");
  EXPECT_EQ(reader.Drain(*stream),
            "event: cleared\ndata: {}\n\nevent: console\ndata: {\"text\":\"fresh\"}\n\n");
  Reader later;
  auto second = streams_.Open(session.id, later.Suspend(), later.Resume());
  EXPECT_EQ(later.Drain(*second), "retry: 3000\n\nevent: console\ndata: {\"text\":\"fresh\"}\n\n");

  // A finished reader is never resumed again.
  stream->Finished();
  streams_.Close(stream);
  streams_.Deliver(event::ConsoleLine{"after"});
  EXPECT_EQ(reader.resumes, 2);
  EXPECT_EQ(streams_.OpenCount(), 1u);
}

TEST_F(EventStreamsTest, StreamsAreBoundedInNumberBacklogAndSessionLife) {
  const auto session = sessions_.Open("10.0.0.5");
  std::vector<Reader> readers(EventStreams::kMostStreams + 1);
  std::vector<std::shared_ptr<EventStream>> open;
  for (std::size_t i = 0; i < EventStreams::kMostStreams; ++i) {
    open.push_back(streams_.Open(session.id, readers[i].Suspend(), readers[i].Resume()));
    ASSERT_TRUE(open.back());
  }
  EXPECT_FALSE(streams_.Open(session.id, {}, {}));

  // One that does not read past the backlog limit is let go with a last word; the others
  // are not held up.
  readers[1].Drain(*open[1]);
  const std::string line(1000, 'x');
  for (std::size_t sent = 0; sent <= EventStream::kBacklogLimit; sent += line.size()) {
    streams_.Deliver(event::ConsoleLine{line});
    readers[1].Drain(*open[1]);
  }
  bool ended = false;
  EXPECT_EQ(readers[0].Drain(*open[0], &ended),
            "event: dropped\ndata: {\"reason\":\"The page fell behind; it reloads.\"}\n\n");
  readers[0].Drain(*open[0], &ended);
  EXPECT_TRUE(ended);
  EXPECT_FALSE(open[1]->Ended());
  // Of the streams nobody read, none is left; the one that kept reading is.
  EXPECT_EQ(streams_.OpenCount(), 1u);

  // Tending keeps the living ones warm and ends those whose session is over.
  readers[1].Drain(*open[1]);
  streams_.Tend();
  EXPECT_EQ(readers[1].Drain(*open[1]), ": still here\n\n");
  now_ += std::chrono::minutes(31);
  streams_.Tend();
  EXPECT_EQ(readers[1].Drain(*open[1]),
            "event: expired\ndata: {\"reason\":\"The session ended.\"}\n\n");
  EXPECT_EQ(streams_.OpenCount(), 0u);
}

TEST_F(EventStreamsTest, TheThreadFollowsTheEngineQueueAndStopEndsEveryStream) {
  std::shared_ptr<EventQueue> queue = streams_.Queue();
  EXPECT_TRUE(queue->WantsUserEvents());
  EXPECT_FALSE(queue->WantsUserList());
  streams_.Start({});
  const auto session = sessions_.Open("10.0.0.5");
  std::mutex mutex;
  std::condition_variable woken;
  bool resumed = false;
  Reader reader;
  auto stream = streams_.Open(session.id, {}, [&] {
    std::lock_guard lock(mutex);
    resumed = true;
    woken.notify_all();
  });
  reader.Drain(*stream);
  queue->OnEvent(event::ConsoleLine{"from the engine"});
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(woken.wait_for(lock, std::chrono::seconds(5), [&] { return resumed; }));
  }
  EXPECT_EQ(reader.Drain(*stream), "event: console\ndata: {\"text\":\"from the engine\"}\n\n");
  streams_.Stop();
  bool ended = false;
  EXPECT_EQ(reader.Drain(*stream, &ended),
            "event: stopping\ndata: {\"reason\":\"The web console is stopping.\"}\n\n");
  reader.Drain(*stream, &ended);
  EXPECT_TRUE(ended);
  // The engine lets go of the closed queue.
  EXPECT_FALSE(queue->Alive());
}

}  // namespace
}  // namespace orv
