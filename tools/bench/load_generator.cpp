#include "load_generator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "client_packets.h"
#include "process_stats.h"
#include "protocol/wire_constants.h"
#include "wire_scanner.h"

namespace orv::bench {

namespace {

constexpr std::size_t kReadSize = 64 * 1024;
// A stream that goes this long without a terminator is not the chat protocol.
constexpr std::size_t kLeftoverLimit = 1 << 20;
// A sender keeps less than one server receive unread, so the server always reads its
// packets whole: a packet split across two receives would be relayed as two pieces.
constexpr std::size_t kUnreadLimit = 4095;

client::Identity IdentityOf(int index, const std::string& runTag) {
  char mac[32];
  std::snprintf(mac, sizeof mac, "BE%s%06X", runTag.c_str(), static_cast<unsigned>(index));
  std::string name = "b";  // appended, not "b" + ...: GCC 12 warns wrongly on that form
  name += std::to_string(index);
  return {"127.0.0.1", mac, name, "bench.gif"};
}

// The index of a generator client's name "b<index>", or -1.
int IndexOfName(std::string_view name) {
  if (name.size() < 2 || name.size() > 8 || name[0] != 'b') return -1;
  int value = 0;
  for (std::size_t i = 1; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return -1;
    value = value * 10 + (name[i] - '0');
  }
  return value;
}

}  // namespace

std::int64_t NowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

struct LoadGenerator::Shared {
  Shared(const LoadConfig& c, std::atomic<std::uint64_t>& r, std::atomic<std::uint64_t>& k)
      : config(c), scanner(*c.codec), ready(r), complete(k) {}

  void Fail(const std::string& why) {
    std::lock_guard lock(failureMutex);
    if (failure.empty()) failure = why;
  }

  const LoadConfig& config;
  WireScanner scanner;
  std::atomic<std::uint64_t>& ready;
  std::atomic<std::uint64_t>& complete;
  std::atomic<bool> stop{false};
  std::atomic<bool> running{false};
  std::int64_t originNs = 0;  // set before the threads start
  std::int64_t startNs = 0;   // set before running
  std::int64_t endNs = 0;
  std::mutex failureMutex;
  std::string failure;
};

class LoadGenerator::Worker {
 public:
  Worker(Shared& shared, const std::vector<int>& indices) : shared_(shared) {
    const LoadConfig& config = shared.config;
    const int total = config.receivers + config.senders;
    clients_.resize(indices.size());
    for (std::size_t i = 0; i < indices.size(); ++i) {
      Client& client = clients_[i];
      client.index = indices[i];
      client.senderId = client.index < config.senders ? client.index : -1;
      const client::Identity who = IdentityOf(client.index, config.runTag);
      client.encodedName = config.codec->EncodeText(who.name);
      client.announce = config.codec->EncodeText(
          client::BuildClientPacket(who, packet_type::kAnnounce, "0:bench"));
      if (client.senderId >= 0) {
        client.header = client::BuildClientPacket(who, packet_type::kChat, "");
        client.header.resize(client.header.size() - kTerminator.size());
      }
      if (config.trackLists) client.known.assign((static_cast<std::size_t>(total) + 63) / 64, 0);
      if (config.senders > 0)
        client.lastSequence.assign(static_cast<std::size_t>(config.senders), -1);
    }
    if (config.rate <= 0) {
      window_ = static_cast<std::uint64_t>(config.window);
      const std::uint64_t byBytes = kUnreadLimit / std::max<std::size_t>(config.size, 1);
      if (byBytes < window_) window_ = byBytes;
      if (window_ == 0) window_ = 1;
    }
    const int perThread = config.threads > 0 ? config.threads : 1;
    connectWindow_ =
        config.connectWindow <= 0
            ? clients_.size()
            : static_cast<std::size_t>((config.connectWindow + perThread - 1) / perThread);
    buffer_.resize(kLeftoverLimit + kReadSize);
  }

  void Run() {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    std::vector<epoll_event> events(1024);
    while (!shared_.stop.load(std::memory_order_acquire)) {
      const bool running = shared_.running.load(std::memory_order_acquire);
      std::int64_t now = NowNs();
      if (running && !runStarted_) {
        runStarted_ = true;
        cpuAtStart_ = ThreadCpuSeconds();
        for (Client& client : clients_) {
          if (client.senderId >= 0 && shared_.config.rate <= 0) SendMore(client, now);
        }
      }
      if (runStarted_ && !runEnded_ && now >= shared_.endNs) {
        runEnded_ = true;
        cpuAtEnd_ = ThreadCpuSeconds();
      }
      StartConnects();
      const bool pacing = runStarted_ && !runEnded_ && shared_.config.rate > 0;
      const int n =
          epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), pacing ? 1 : 10);
      now = NowNs();
      for (int i = 0; i < n; ++i) {
        Client& client = *static_cast<Client*>(events[i].data.ptr);
        if (client.fd < 0) continue;
        if (client.state == State::kConnecting) {
          if (events[i].events & (EPOLLOUT | EPOLLERR | EPOLLHUP)) Connected(client);
          continue;
        }
        if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) Receive(client, now);
        if (client.fd >= 0 && (events[i].events & EPOLLOUT)) Flush(client);
      }
      if (pacing) PaceSenders(now);
    }
    if (runStarted_ && !runEnded_) cpuAtEnd_ = ThreadCpuSeconds();
    for (Client& client : clients_) {
      if (client.fd >= 0) close(client.fd);
    }
    close(epoll_);
  }

  std::uint64_t Sent() const { return sent_.load(std::memory_order_relaxed); }
  std::uint64_t Delivered() const { return delivered_.load(std::memory_order_relaxed); }
  std::int64_t LastReceive() const { return lastReceive_.load(std::memory_order_relaxed); }

  void CollectSent(std::vector<std::uint64_t>& bySender) const {
    for (const Client& client : clients_) {
      if (client.senderId >= 0)
        bySender[static_cast<std::size_t>(client.senderId)] = client.sequence;
    }
  }

  void AddTo(LoadResults& results, const std::vector<std::uint64_t>& bySender) const {
    results.sent += Sent();
    results.deliveries += Delivered();
    results.windowDeliveries += windowDeliveries_;
    results.malformed += malformed_;
    results.closed += closed_;
    results.bytesReceived += bytesReceived_;
    results.rateShortfall += rateShortfall_;
    for (const auto& [type, count] : otherPackets_)
      results.otherPackets[type] += count;
    results.latency.Merge(latency_);
    const double window = static_cast<double>(shared_.endNs - shared_.startNs) / 1e9;
    if (runStarted_ && window > 0) {
      results.threadBusyMax = std::max(results.threadBusyMax, (cpuAtEnd_ - cpuAtStart_) / window);
    }
    for (const Client& client : clients_) {
      results.duplicates += client.duplicates;
      std::uint64_t lost = client.gaps;
      for (std::size_t s = 0; s < client.lastSequence.size(); ++s) {
        const auto received = static_cast<std::uint64_t>(client.lastSequence[s] + 1);
        if (bySender[s] > received) lost += bySender[s] - received;
      }
      results.lost += lost;
      if (shared_.config.trackLists) {
        results.readyNs[static_cast<std::size_t>(client.index)] = client.readyNs;
        results.completeNs[static_cast<std::size_t>(client.index)] = client.completeNs;
        if (client.fullAnswer) ++results.fullAnswers;
      }
    }
  }

 private:
  enum class State { kWaiting, kConnecting, kAnnounced, kReady };

  struct Client {
    int fd = -1;
    int index = 0;
    int senderId = -1;
    State state = State::kWaiting;
    std::string encodedName;
    std::string announce;  // substituted
    std::string header;    // plain, for senders
    std::string out;       // substituted bytes not yet written
    std::size_t outOffset = 0;
    bool wantWrite = false;
    std::string leftover;  // substituted bytes after the last terminator
    // Sending.
    std::uint64_t sequence = 0;  // packets sent
    std::uint64_t inFlight = 0;  // sent and not yet back
    // Receiving.
    std::vector<std::int64_t> lastSequence;  // per sender
    std::uint64_t gaps = 0;
    std::uint64_t duplicates = 0;
    // Login.
    std::vector<std::uint64_t> known;
    std::uint32_t knownCount = 0;
    std::uint32_t answerEntries = 0;
    bool fullAnswer = false;
    std::int64_t readyNs = 0;
    std::int64_t completeNs = 0;
  };

  void StartConnects() {
    while (connecting_ < connectWindow_ && nextConnect_ < clients_.size()) {
      Client& client = clients_[nextConnect_++];
      client.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      if (client.fd < 0) {
        shared_.Fail(std::string("cannot open a socket: ") + std::strerror(errno) +
                     " (raise the open-file limit, ulimit -n)");
        return;
      }
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(shared_.config.port);
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      const int result = connect(client.fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
      if (result != 0 && errno != EINPROGRESS) {
        ConnectFailed(errno);
        return;
      }
      client.state = State::kConnecting;
      ++connecting_;
      epoll_event event{};
      event.events = EPOLLOUT;
      event.data.ptr = &client;
      epoll_ctl(epoll_, EPOLL_CTL_ADD, client.fd, &event);
    }
  }

  void ConnectFailed(int error) {
    shared_.Fail("cannot connect to 127.0.0.1:" + std::to_string(shared_.config.port) + ": " +
                 std::strerror(error));
  }

  void Connected(Client& client) {
    int error = 0;
    socklen_t length = sizeof error;
    getsockopt(client.fd, SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0) {
      ConnectFailed(error);
      Drop(client);
      return;
    }
    const int one = 1;
    setsockopt(client.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    client.state = State::kAnnounced;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = &client;
    epoll_ctl(epoll_, EPOLL_CTL_MOD, client.fd, &event);
    client.out += client.announce;
    Flush(client);
  }

  void Drop(Client& client) {
    epoll_ctl(epoll_, EPOLL_CTL_DEL, client.fd, nullptr);
    close(client.fd);
    client.fd = -1;
    if (client.state == State::kConnecting || client.state == State::kAnnounced) --connecting_;
  }

  void Receive(Client& client, std::int64_t now) {
    char* data = buffer_.data();
    const std::size_t kept = client.leftover.size();
    std::memcpy(data, client.leftover.data(), kept);
    const ssize_t n = read(client.fd, data + kept, kReadSize);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
      ++closed_;
      if (!runStarted_) {
        shared_.Fail(n == 0 ? "the server closed a connection during set-up (client b" +
                                  std::to_string(client.index) + ")"
                            : std::string("a connection failed during set-up: ") +
                                  std::strerror(errno));
      }
      Drop(client);
      return;
    }
    bytesReceived_ += static_cast<std::uint64_t>(n);
    if (!runStarted_) lastReceive_.store(now, std::memory_order_relaxed);
    const std::string_view wire(data, kept + static_cast<std::size_t>(n));
    std::size_t start = 0;
    while (true) {
      const std::size_t end = shared_.scanner.FindTerminator(wire, start);
      if (end == std::string_view::npos) break;
      Packet(client, wire.substr(start, end - start), now);
      start = end + WireScanner::kTerminatorSize;
    }
    if (wire.size() - start > kLeftoverLimit - kReadSize) {
      ++malformed_;
      client.leftover.clear();
    } else {
      client.leftover.assign(wire.substr(start));
    }
  }

  void Packet(Client& client, std::string_view packet, std::int64_t now) {
    // Nearly every packet of a load run is a stamped delivery: find its stamp first.
    if (const auto stamp = shared_.scanner.FindStamp(packet)) {
      Delivery(client, *stamp, now);
      return;
    }
    const auto header = shared_.scanner.ReadHeader(packet);
    if (!header) {
      ++malformed_;
      return;
    }
    if (header->type == packet_type::kChat) {
      if (const auto stamp = shared_.scanner.ReadStamp(header->body)) {
        Delivery(client, *stamp, now);
        return;
      }
    } else if (header->type == packet_type::kAnnounce) {
      if (header->name == client.encodedName && client.state == State::kAnnounced) {
        client.state = State::kReady;
        client.readyNs = now - shared_.originNs;
        --connecting_;
        shared_.ready.fetch_add(1, std::memory_order_relaxed);
      }
      if (!client.known.empty())
        Know(client, IndexOfName(shared_.scanner.Decode(header->name)), now);
      return;
    } else if (header->type == packet_type::kUserList && !client.known.empty()) {
      ReadListBlock(client, header->body, now);
    }
    ++otherPackets_[header->type];
  }

  void ReadListBlock(Client& client, std::string_view wireBody, std::int64_t now) {
    const std::string body = shared_.scanner.Decode(wireBody);
    static constexpr std::string_view kName = "|U1|";
    for (std::size_t at = body.find(kName); at != std::string::npos;
         at = body.find(kName, at + 1)) {
      const std::size_t begin = at + kName.size();
      const std::size_t end = body.find("|/U1|", begin);
      if (end == std::string::npos) break;
      if (client.state == State::kAnnounced) ++client.answerEntries;
      Know(client, IndexOfName(std::string_view(body).substr(begin, end - begin)), now);
    }
    if (client.answerEntries >= TotalClients()) client.fullAnswer = true;
  }

  std::uint32_t TotalClients() const {
    return static_cast<std::uint32_t>(shared_.config.receivers + shared_.config.senders);
  }

  void Know(Client& client, int index, std::int64_t now) {
    if (index < 0 || static_cast<std::uint32_t>(index) >= TotalClients()) return;
    std::uint64_t& word = client.known[static_cast<std::size_t>(index) / 64];
    const std::uint64_t bit = std::uint64_t{1} << (index % 64);
    if (word & bit) return;
    word |= bit;
    if (++client.knownCount == TotalClients()) {
      client.completeNs = now - shared_.originNs;
      shared_.complete.fetch_add(1, std::memory_order_relaxed);
    }
  }

  void Delivery(Client& client, const Stamp& stamp, std::int64_t now) {
    if (stamp.sender >= client.lastSequence.size()) {
      ++malformed_;
      return;
    }
    delivered_.store(delivered_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    if (now < shared_.endNs) ++windowDeliveries_;
    const auto sentNs = static_cast<std::int64_t>(stamp.sentNs);
    latency_.Record(now > sentNs ? static_cast<std::uint64_t>(now - sentNs) : 0);
    std::int64_t& last = client.lastSequence[stamp.sender];
    const auto sequence = static_cast<std::int64_t>(stamp.sequence);
    if (sequence == last + 1) {
      last = sequence;
    } else if (sequence > last + 1) {
      client.gaps += static_cast<std::uint64_t>(sequence - last - 1);
      last = sequence;
    } else {
      ++client.duplicates;
    }
    if (static_cast<int>(stamp.sender) == client.senderId) {
      if (client.inFlight > 0) --client.inFlight;
      if (shared_.config.rate <= 0 && runStarted_ && now < shared_.endNs) SendMore(client, now);
    }
  }

  void SendMore(Client& client, std::int64_t now) {
    while (client.inFlight < window_ && client.fd >= 0)
      SendOne(client, now);
    Flush(client);
  }

  void PaceSenders(std::int64_t now) {
    if (now >= shared_.endNs) return;
    const double elapsed = static_cast<double>(now - shared_.startNs) / 1e9;
    const auto due = static_cast<std::uint64_t>(std::floor(elapsed * shared_.config.rate)) + 1;
    for (Client& client : clients_) {
      if (client.senderId < 0 || client.fd < 0) continue;
      bool sentSome = false;
      while (client.sequence < due) {
        if ((client.inFlight + 1) * shared_.config.size > kUnreadLimit) break;
        SendOne(client, now);
        sentSome = true;
      }
      if (client.sequence < due) rateShortfall_ = std::max(rateShortfall_, due - client.sequence);
      if (sentSome) Flush(client);
    }
  }

  void SendOne(Client& client, std::int64_t now) {
    const Stamp stamp{static_cast<std::uint32_t>(client.senderId), client.sequence,
                      static_cast<std::uint64_t>(now)};
    const std::size_t fixed = client.header.size() + kTerminator.size();
    const std::size_t padTo = shared_.config.size > fixed ? shared_.config.size - fixed : 0;
    plain_.assign(client.header);
    plain_ += WireScanner::StampedBody(stamp, padTo);
    plain_ += kTerminator;
    shared_.config.codec->EncodeAppend(plain_, client.out);
    ++client.sequence;
    ++client.inFlight;
    sent_.store(sent_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  }

  void Flush(Client& client) {
    while (client.outOffset < client.out.size()) {
      const ssize_t n = write(client.fd, client.out.data() + client.outOffset,
                              client.out.size() - client.outOffset);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN) {
          WantWrite(client, true);
          return;
        }
        ++closed_;
        if (!runStarted_) shared_.Fail(std::string("cannot send: ") + std::strerror(errno));
        Drop(client);
        return;
      }
      client.outOffset += static_cast<std::size_t>(n);
    }
    client.out.clear();
    client.outOffset = 0;
    WantWrite(client, false);
  }

  void WantWrite(Client& client, bool want) {
    if (client.wantWrite == want) return;
    client.wantWrite = want;
    epoll_event event{};
    event.events = EPOLLIN | (want ? EPOLLOUT : 0u);
    event.data.ptr = &client;
    epoll_ctl(epoll_, EPOLL_CTL_MOD, client.fd, &event);
  }

  Shared& shared_;
  std::vector<Client> clients_;
  std::vector<char> buffer_;
  std::string plain_;
  int epoll_ = -1;
  std::uint64_t window_ = 0;
  std::size_t connectWindow_ = 0;
  std::size_t connecting_ = 0;
  std::size_t nextConnect_ = 0;
  bool runStarted_ = false;
  bool runEnded_ = false;
  double cpuAtStart_ = 0;
  double cpuAtEnd_ = 0;
  LatencyHistogram latency_;
  std::map<int, std::uint64_t> otherPackets_;
  std::uint64_t windowDeliveries_ = 0;
  std::uint64_t malformed_ = 0;
  std::uint64_t closed_ = 0;
  std::uint64_t bytesReceived_ = 0;
  std::uint64_t rateShortfall_ = 0;
  std::atomic<std::uint64_t> sent_{0};
  std::atomic<std::uint64_t> delivered_{0};
  std::atomic<std::int64_t> lastReceive_{0};
};

LoadGenerator::LoadGenerator(LoadConfig config) : config_(std::move(config)) {
  shared_ = std::make_unique<Shared>(config_, ready_, complete_);
  const int threads = std::max(1, config_.threads);
  std::vector<std::vector<int>> indices(static_cast<std::size_t>(threads));
  for (int i = 0; i < ClientCount(); ++i)
    indices[static_cast<std::size_t>(i % threads)].push_back(i);
  for (const auto& part : indices)
    workers_.push_back(std::make_unique<Worker>(*shared_, part));
}

LoadGenerator::~LoadGenerator() {
  shared_->stop.store(true, std::memory_order_release);
  for (std::thread& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
}

std::size_t LoadGenerator::MinimumSize() const {
  const client::Identity who = IdentityOf(ClientCount(), config_.runTag);
  const Stamp stamp{static_cast<std::uint32_t>(config_.senders), 999999999, 99999999999999999};
  return client::BuildClientPacket(who, 5, WireScanner::StampedBody(stamp, 0)).size();
}

void LoadGenerator::Start(std::int64_t startNs) {
  shared_->originNs = startNs;
  for (auto& worker : workers_)
    threads_.emplace_back([w = worker.get()] { w->Run(); });
}

std::uint64_t LoadGenerator::SentCount() const {
  std::uint64_t total = 0;
  for (const auto& worker : workers_)
    total += worker->Sent();
  return total;
}

std::uint64_t LoadGenerator::DeliveredCount() const {
  std::uint64_t total = 0;
  for (const auto& worker : workers_)
    total += worker->Delivered();
  return total;
}

std::int64_t LoadGenerator::LastReceiveNs() const {
  std::int64_t latest = 0;
  for (const auto& worker : workers_)
    latest = std::max(latest, worker->LastReceive());
  return latest;
}

std::string LoadGenerator::Failure() const {
  std::lock_guard lock(shared_->failureMutex);
  return shared_->failure;
}

void LoadGenerator::BeginRun(std::int64_t startNs, std::int64_t endNs) {
  shared_->startNs = startNs;
  shared_->endNs = endNs;
  shared_->running.store(true, std::memory_order_release);
}

LoadResults LoadGenerator::Finish() {
  shared_->stop.store(true, std::memory_order_release);
  for (std::thread& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
  LoadResults results;
  if (config_.trackLists) {
    results.readyNs.assign(static_cast<std::size_t>(ClientCount()), 0);
    results.completeNs.assign(static_cast<std::size_t>(ClientCount()), 0);
  }
  std::vector<std::uint64_t> bySender(static_cast<std::size_t>(config_.senders), 0);
  for (const auto& worker : workers_)
    worker->CollectSent(bySender);
  for (const auto& worker : workers_)
    worker->AddTo(results, bySender);
  return results;
}

}  // namespace orv::bench
