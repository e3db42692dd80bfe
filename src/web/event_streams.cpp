#include "web/event_streams.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace orv {

namespace {

const char* const kDropped =
    "event: dropped\ndata: {\"reason\":\"The page fell behind; it reloads.\"}\n\n";
const char* const kExpired = "event: expired\ndata: {\"reason\":\"The session ended.\"}\n\n";
const char* const kStopping =
    "event: stopping\ndata: {\"reason\":\"The web console is stopping.\"}\n\n";

}  // namespace

EventStream::EventStream(std::string session, std::function<void()> suspend,
                         std::function<void()> resume)
    : session_(std::move(session)), suspend_(std::move(suspend)), resume_(std::move(resume)) {}

long EventStream::Read(char* buffer, std::size_t max) {
  std::lock_guard lock(mutex_);
  if (!pending_.empty()) {
    const std::size_t n = std::min(max, pending_.size());
    std::memcpy(buffer, pending_.data(), n);
    pending_.erase(0, n);
    return static_cast<long>(n);
  }
  if (ended_) return kEnd;
  // Woken by the next Push or End (under the same lock, so none is missed).
  waiting_ = true;
  if (suspend_) suspend_();
  return 0;
}

void EventStream::Finished() {
  std::lock_guard lock(mutex_);
  finished_ = true;
  ended_ = true;
  waiting_ = false;
  pending_.clear();
}

bool EventStream::TakeWaiterLocked() {
  if (!waiting_ || finished_) return false;
  waiting_ = false;
  return true;
}

void EventStream::Wake() {
  // The reader is suspended until this call: it cannot have finished meanwhile.
  if (resume_) resume_();
}

bool EventStream::Push(const std::string& text) {
  std::lock_guard lock(mutex_);
  if (ended_) return false;
  if (pending_.size() + text.size() > kBacklogLimit) {
    // A reader this far behind is let go; the page reconnects and reloads.
    pending_ = kDropped;
    ended_ = true;
  } else {
    pending_ += text;
  }
  return TakeWaiterLocked();
}

bool EventStream::End(const std::string& text) {
  std::lock_guard lock(mutex_);
  if (ended_) return false;
  pending_ += text;
  ended_ = true;
  return TakeWaiterLocked();
}

bool EventStream::Ended() const {
  std::lock_guard lock(mutex_);
  return ended_;
}

EventStreams::EventStreams(WebSessions& sessions) : sessions_(sessions), queue_(MakeQueue()) {}

EventStreams::~EventStreams() {
  Stop();
}

std::shared_ptr<EventQueue> EventStreams::MakeQueue() {
  EventQueue::Options options;
  options.capacity = kQueueCapacity;
  options.userList = false;
  options.userEvents = true;
  return std::make_shared<EventQueue>(std::move(options));
}

std::shared_ptr<EventQueue> EventStreams::Queue() const {
  std::lock_guard lock(mutex_);
  return queue_;
}

void EventStreams::Start(std::function<void(std::shared_ptr<EventSubscriber>)> subscribe) {
  subscribe_ = std::move(subscribe);
  thread_ = std::thread([this] { Run(); });
}

void EventStreams::Stop() {
  std::shared_ptr<EventQueue> queue;
  std::list<std::shared_ptr<EventStream>> streams;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    queue = queue_;
    streams.swap(streams_);
  }
  queue->Close();
  if (thread_.joinable()) thread_.join();
  for (const auto& stream : streams) {
    if (stream->End(kStopping)) stream->Wake();
  }
}

std::shared_ptr<EventStream> EventStreams::Open(const std::string& session,
                                                std::function<void()> suspend,
                                                std::function<void()> resume) {
  std::lock_guard lock(mutex_);
  if (stopping_ || streams_.size() >= kMostStreams) return nullptr;
  auto stream = std::make_shared<EventStream>(session, std::move(suspend), std::move(resume));
  std::string start = "retry: 3000\n\n";
  for (const std::string& line : history_)
    start += line;
  (void)stream->Push(start);  // nobody reads it yet
  streams_.push_back(stream);
  return stream;
}

void EventStreams::Close(const std::shared_ptr<EventStream>& stream) {
  stream->Finished();
  std::lock_guard lock(mutex_);
  streams_.remove(stream);
}

std::size_t EventStreams::OpenCount() const {
  std::lock_guard lock(mutex_);
  return streams_.size();
}

Json EventStreams::Texts() const {
  std::lock_guard lock(mutex_);
  return texts_;
}

void EventStreams::Deliver(const EngineEvent& event) {
  if (const auto* texts = std::get_if<event::Texts>(&event)) {
    std::lock_guard lock(mutex_);
    texts_ = TextsJson(texts->texts);
    return;
  }
  const std::optional<std::string> text = EventText(event);
  if (!text) return;
  std::vector<std::shared_ptr<EventStream>> wake;
  {
    std::lock_guard lock(mutex_);
    if (std::holds_alternative<event::ConsoleLine>(event)) {
      history_.push_back(*text);
      if (history_.size() > kHistoryLines) history_.pop_front();
    } else if (std::holds_alternative<event::ConsoleCleared>(event)) {
      history_.clear();
    }
    PushAllLocked(*text, wake);
  }
  for (const auto& stream : wake)
    stream->Wake();
}

void EventStreams::PushAllLocked(const std::string& text,
                                 std::vector<std::shared_ptr<EventStream>>& wake) {
  for (const auto& stream : streams_) {
    if (stream->Push(text)) wake.push_back(stream);
  }
  streams_.remove_if([](const auto& stream) { return stream->Ended(); });
}

void EventStreams::Tend() {
  std::vector<std::shared_ptr<EventStream>> wake;
  {
    std::lock_guard lock(mutex_);
    for (const auto& stream : streams_) {
      const bool alive = sessions_.Alive(stream->Session());
      if (alive ? stream->Push(": still here\n\n") : stream->End(kExpired)) {
        wake.push_back(stream);
      }
    }
    streams_.remove_if([](const auto& stream) { return stream->Ended(); });
  }
  for (const auto& stream : wake)
    stream->Wake();
}

void EventStreams::Run() {
  auto lastTend = std::chrono::steady_clock::now();
  for (;;) {
    std::shared_ptr<EventQueue> queue = Queue();
    std::optional<EngineEvent> event = queue->Pop(std::chrono::seconds(1));
    if (queue->Closed()) return;
    if (event) {
      Deliver(*event);
      for (const EngineEvent& next : queue->TakeAll())
        Deliver(next);
    }
    if (queue->Dropped()) {
      // This thread fell behind the engine (it should not): a new queue, and every page
      // starts over.
      std::shared_ptr<EventQueue> fresh = MakeQueue();
      std::list<std::shared_ptr<EventStream>> streams;
      {
        std::lock_guard lock(mutex_);
        queue_ = fresh;
        streams.swap(streams_);
      }
      for (const auto& stream : streams) {
        if (stream->End(kDropped)) stream->Wake();
      }
      if (subscribe_) subscribe_(fresh);
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - lastTend >= kKeepAlive) {
      lastTend = now;
      Tend();
    }
  }
}

}  // namespace orv
