// The page's live view: one queue the engine feeds (an EventQueue, subscribed once for the
// whole web console, so the engine's cost does not grow with the browsers), and a thread
// that turns each event into a Server-Sent Event once and hands it to every open stream.
// Each stream holds at most a fixed backlog: a browser that does not read is dropped,
// never waited for; so are streams beyond a fixed number, and those whose session ended.
// A new stream starts with the last console lines, so the page shows what came before.
#pragma once

#include <sys/types.h>
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/event_queue.h"
#include "web/web_sessions.h"
#include "web/web_values.h"

namespace orv {

// One browser's stream of events; its reader is an HTTP connection.
class EventStream {
 public:
  static constexpr std::size_t kBacklogLimit = 1 << 20;  // bytes not yet taken

  // suspend is called (on the reader's thread, inside Read) when nothing waits; resume,
  // from any thread, once something does: exactly once after each suspend, never under a
  // lock (the HTTP library takes its own) and never after Finished().
  EventStream(std::string session, std::function<void()> suspend, std::function<void()> resume);

  // Reader's side: copies up to max bytes of what waits; 0 after suspending the reader
  // (nothing waits); -1 when the stream is over.
  static constexpr long kEnd = -1;
  long Read(char* buffer, std::size_t max);
  // The reader is gone (the connection ended): no more calls to resume.
  void Finished();

  // Feeder's side: true when the reader waits for it, and Wake must follow (outside any
  // lock the feeder holds).
  [[nodiscard]] bool Push(const std::string& text);
  // The last text, then the end (said as an event, e.g. why the stream ends).
  [[nodiscard]] bool End(const std::string& text);
  void Wake();
  bool Ended() const;
  const std::string& Session() const { return session_; }

 private:
  bool TakeWaiterLocked();

  const std::string session_;
  const std::function<void()> suspend_;
  const std::function<void()> resume_;
  mutable std::mutex mutex_;
  std::string pending_;
  bool waiting_ = false;   // the reader is suspended
  bool ended_ = false;     // nothing more after pending_
  bool finished_ = false;  // the reader is gone
};

class EventStreams {
 public:
  static constexpr std::size_t kMostStreams = 32;
  static constexpr std::size_t kHistoryLines = 200;
  static constexpr std::size_t kQueueCapacity = 20000;  // events between engine and thread
  static constexpr auto kKeepAlive = std::chrono::seconds(15);

  explicit EventStreams(WebSessions& sessions);
  ~EventStreams();

  // The engine's queue: subscribe it before the engine starts, so that the banner and the
  // settings report are in the history.
  std::shared_ptr<EventQueue> Queue() const;
  // Starts the thread. subscribe gives the engine a new queue when the thread fell so far
  // behind that the old one was dropped (every stream then ends, and the pages reload).
  void Start(std::function<void(std::shared_ptr<EventSubscriber>)> subscribe);
  // Ends every stream and the thread.
  void Stop();

  // A stream for session, beginning with the history; null when kMostStreams are open.
  std::shared_ptr<EventStream> Open(const std::string& session, std::function<void()> suspend,
                                    std::function<void()> resume);
  void Close(const std::shared_ptr<EventStream>& stream);
  std::size_t OpenCount() const;

  // The window's texts last heard (TextsJson), for the page's menu.
  Json Texts() const;

  // What the thread does with one event (public for tests).
  void Deliver(const EngineEvent& event);
  // Keep-alive comments, and the end of streams whose session is over.
  void Tend();

 private:
  void Run();
  // Pushes text to every stream (under mutex_); the streams to wake are added to wake.
  void PushAllLocked(const std::string& text, std::vector<std::shared_ptr<EventStream>>& wake);
  static std::shared_ptr<EventQueue> MakeQueue();

  WebSessions& sessions_;
  mutable std::mutex mutex_;
  std::shared_ptr<EventQueue> queue_;
  std::list<std::shared_ptr<EventStream>> streams_;
  std::deque<std::string> history_;  // console lines, as events
  Json texts_ = Json::object();
  std::function<void(std::shared_ptr<EventSubscriber>)> subscribe_;
  std::thread thread_;
  bool stopping_ = false;
};

}  // namespace orv
