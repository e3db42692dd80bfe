// orvchat-lean-relay: the cheapest possible fan-out, as a baseline for the chat server's
// load figures. Every receive (at most 4096 bytes) is written to every connection, the sender
// included, with no protocol work: one shared buffer per receive, a queue of such buffers per
// connection, gathered writes, one thread, non-blocking sockets. Linux only (epoll).
//
// usage: orvchat-lean-relay PORT [BIND_ADDRESS]   (address 127.0.0.1 by default; port 0
// lets the system choose; the chosen address is printed on the first line of stdout)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace orv::bench {
namespace {

constexpr std::size_t kReceiveSize = 4096;
// A connection that lets this much pile up unread is dropped, as the server drops it.
constexpr std::size_t kQueueLimit = 64u << 20;
constexpr int kMaxGather = 64;

// One receive, shared by every connection's queue; freed when the last writer is done.
struct Chunk {
  int references = 0;
  std::size_t size = 0;
  char data[kReceiveSize];
};

class ChunkPool {
 public:
  Chunk* Take() {
    if (free_.empty()) return new Chunk;
    Chunk* chunk = free_.back();
    free_.pop_back();
    return chunk;
  }
  void Release(Chunk* chunk) {
    if (--chunk->references > 0) return;
    if (free_.size() < 4096) {
      free_.push_back(chunk);
    } else {
      delete chunk;
    }
  }

 private:
  std::vector<Chunk*> free_;
};

struct Connection {
  int fd = -1;
  std::size_t index = 0;  // place in the relay's list
  std::deque<Chunk*> queue;
  std::size_t offset = 0;  // bytes of queue.front() already written
  std::size_t queued = 0;  // bytes not yet written
  bool dirty = false;      // queued since the last flush
  bool wantWrite = false;  // EPOLLOUT registered
  bool closed = false;
};

class Relay {
 public:
  explicit Relay(int listener) : listener_(listener) {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = nullptr;  // the listener
    epoll_ctl(epoll_, EPOLL_CTL_ADD, listener_, &event);
  }

  [[noreturn]] void Run() {
    std::vector<epoll_event> events(512);
    while (true) {
      const int n = epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), -1);
      if (n < 0) {
        if (errno == EINTR) continue;
        std::perror("lean relay: epoll_wait");
        std::exit(1);
      }
      for (int i = 0; i < n; ++i) {
        auto* connection = static_cast<Connection*>(events[i].data.ptr);
        if (connection == nullptr) {
          AcceptAll();
          continue;
        }
        if (connection->closed) continue;
        if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) Receive(*connection);
        if (!connection->closed && (events[i].events & EPOLLOUT)) Flush(*connection);
      }
      // Gathering: everything received in this round goes out in one writev per connection.
      for (Connection* connection : dirty_) {
        connection->dirty = false;
        if (!connection->closed) Flush(*connection);
      }
      dirty_.clear();
      for (Connection* connection : doomed_)
        delete connection;
      doomed_.clear();
    }
  }

 private:
  void AcceptAll() {
    while (true) {
      const int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
          std::perror("lean relay: accept");
        }
        return;
      }
      const int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      auto* connection = new Connection;
      connection->fd = fd;
      connection->index = connections_.size();
      connections_.push_back(connection);
      epoll_event event{};
      event.events = EPOLLIN;
      event.data.ptr = connection;
      epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
    }
  }

  void Receive(Connection& from) {
    Chunk* chunk = pool_.Take();
    const ssize_t n = read(from.fd, chunk->data, kReceiveSize);
    if (n <= 0) {
      chunk->references = 1;
      pool_.Release(chunk);
      if (n == 0 || (errno != EAGAIN && errno != EINTR)) Close(from);
      return;
    }
    chunk->size = static_cast<std::size_t>(n);
    chunk->references = static_cast<int>(connections_.size());
    // Close may shrink the list while it is walked; walk a stable copy of the pointers.
    overflowing_.clear();
    for (Connection* to : connections_) {
      to->queue.push_back(chunk);
      to->queued += chunk->size;
      if (to->queued > kQueueLimit) overflowing_.push_back(to);
      if (!to->dirty) {
        to->dirty = true;
        dirty_.push_back(to);
      }
    }
    for (Connection* slow : overflowing_) {
      std::fprintf(stderr, "lean relay: dropping a connection that does not read\n");
      Close(*slow);
    }
  }

  void Flush(Connection& connection) {
    while (!connection.queue.empty()) {
      iovec vectors[kMaxGather];
      int count = 0;
      for (auto it = connection.queue.begin(); it != connection.queue.end() && count < kMaxGather;
           ++it, ++count) {
        const std::size_t skip = count == 0 ? connection.offset : 0;
        vectors[count].iov_base = (*it)->data + skip;
        vectors[count].iov_len = (*it)->size - skip;
      }
      const ssize_t written = writev(connection.fd, vectors, count);
      if (written < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
          WantWrite(connection, true);
          return;
        }
        Close(connection);
        return;
      }
      std::size_t left = static_cast<std::size_t>(written);
      connection.queued -= left;
      while (left > 0) {
        Chunk* front = connection.queue.front();
        const std::size_t rest = front->size - connection.offset;
        if (left < rest) {
          connection.offset += left;
          break;
        }
        left -= rest;
        connection.offset = 0;
        connection.queue.pop_front();
        pool_.Release(front);
      }
    }
    WantWrite(connection, false);
  }

  void WantWrite(Connection& connection, bool want) {
    if (connection.wantWrite == want) return;
    connection.wantWrite = want;
    epoll_event event{};
    event.events = EPOLLIN | (want ? EPOLLOUT : 0u);
    event.data.ptr = &connection;
    epoll_ctl(epoll_, EPOLL_CTL_MOD, connection.fd, &event);
  }

  void Close(Connection& connection) {
    if (connection.closed) return;
    connection.closed = true;
    epoll_ctl(epoll_, EPOLL_CTL_DEL, connection.fd, nullptr);
    close(connection.fd);
    for (Chunk* chunk : connection.queue)
      pool_.Release(chunk);
    connection.queue.clear();
    connection.queued = 0;
    Connection* last = connections_.back();
    connections_[connection.index] = last;
    last->index = connection.index;
    connections_.pop_back();
    // Events of this round may still point at it.
    doomed_.push_back(&connection);
  }

  int listener_;
  int epoll_ = -1;
  ChunkPool pool_;
  std::vector<Connection*> connections_;
  std::vector<Connection*> dirty_;
  std::vector<Connection*> overflowing_;
  std::vector<Connection*> doomed_;
};

}  // namespace
}  // namespace orv::bench

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: orvchat-lean-relay PORT [BIND_ADDRESS]\n");
    return 1;
  }
  char* end = nullptr;
  const long port = std::strtol(argv[1], &end, 10);
  if (*end != '\0' || port < 0 || port > 65535) {
    std::fprintf(stderr, "lean relay: \"%s\" is not a port number\n", argv[1]);
    return 1;
  }
  const char* address = argc == 3 ? argv[2] : "127.0.0.1";
  sockaddr_in bound{};
  bound.sin_family = AF_INET;
  bound.sin_port = htons(static_cast<std::uint16_t>(port));
  if (inet_pton(AF_INET, address, &bound.sin_addr) != 1) {
    std::fprintf(stderr, "lean relay: \"%s\" is not an IPv4 address\n", address);
    return 1;
  }
  std::signal(SIGPIPE, SIG_IGN);
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const int one = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(listener, reinterpret_cast<sockaddr*>(&bound), sizeof bound) != 0 ||
      listen(listener, SOMAXCONN) != 0) {
    std::fprintf(stderr, "lean relay: cannot listen on %s:%ld: %s\n", address, port,
                 std::strerror(errno));
    return 1;
  }
  socklen_t length = sizeof bound;
  getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &length);
  std::printf("lean relay listening on %s:%u\n", address, ntohs(bound.sin_port));
  std::fflush(stdout);
  orv::bench::Relay(listener).Run();
}
