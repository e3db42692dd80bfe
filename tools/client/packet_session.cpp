#include "packet_session.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <iostream>
#include <string>
#include <vector>

#include "client_packets.h"
#include "console/code_page.h"
#include "console/escape.h"
#include "line_reader.h"
#include "protocol/wire_constants.h"

namespace orv::client {

std::string MadeUpMac() {
  const auto seed =
      static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  char text[16];
  std::snprintf(text, sizeof text, "C0%010llX", (seed ^ (seed >> 29)) & 0xFFFFFFFFFFull);
  return text;
}

namespace {

class Session {
 public:
  Session(asio::io_context& io, const WireCodec& codec, Options& options)
      : io_(io),
        codec_(codec),
        options_(options),
        state_(options.state),
        socket_(io),
        timer_(io),
        stream_(codec) {}

  // Connects and starts reading; a failure is reported and ends the run with its code.
  bool Connect() {
    asio::error_code ec;
    asio::ip::tcp::resolver resolver(io_);
    const auto endpoints = resolver.resolve(options_.host, options_.port, ec);
    if (!ec) asio::connect(socket_, endpoints, ec);
    if (ec) {
      std::cerr << "orvchat-client: cannot connect to " << options_.host << ":" << options_.port
                << ": " << ec.message() << "\n";
      exitCode_ = kConnectFailed;
      return false;
    }
    socket_.set_option(asio::ip::tcp::no_delay(true), ec);
    if (!options_.ipGiven) state_.who.ip = socket_.local_endpoint(ec).address().to_string();
    if (!options_.macGiven) state_.who.mac = MadeUpMac();
    if (!options_.batch) {
      Status("connected to " + options_.host + ":" + options_.port + " as " +
             Cp1251ToUtf8(state_.who.name) + " (mac " + Cp1251ToUtf8(state_.who.mac) +
             "); /help lists the commands");
    }
    Read();
    if (options_.announce) Send(AnnouncePacket(state_));
    if (options_.batch) {
      if (options_.announce) {
        // Scripted sends wait for the announcement's own copy (so the welcome and the list
        // have come and the server's name is known), or at most a few seconds.
        waitingForEcho_ = true;
        timer_.expires_after(std::chrono::seconds(3));
        timer_.async_wait([this](const asio::error_code& ec) {
          if (ec || finished_ || !waitingForEcho_) return;
          waitingForEcho_ = false;
          ScheduleBatch(0);
        });
      } else {
        ScheduleBatch(0);
      }
    }
    return true;
  }

  // A line typed by the operator (already in the wire code page).
  void OnLine(const std::string& line) {
    Action action = TranslateInput(line, state_);
    switch (action.kind) {
      case Action::Kind::kNothing:
        break;
      case Action::Kind::kSend:
        Send(action.text);
        break;
      case Action::Kind::kHelp:
        std::cout << HelpText() << std::endl;
        break;
      case Action::Kind::kError:
        std::cerr << Cp1251ToUtf8(action.message) << std::endl;
        if (options_.batch) exitCode_ = kUsage;  // a scripted line the client cannot send
        break;
      case Action::Kind::kQuit:
        Leave(kOk);
        break;
    }
  }

  // Stops once what was typed has been written.
  void Leave(int code) {
    leaving_ = true;
    if (exitCode_ == kOk) exitCode_ = code;
    if (!writing_) Finish();
  }

  int ExitCode() const { return exitCode_; }

 private:
  void ScheduleBatch(std::size_t next) {
    const bool done = next >= options_.sends.size();
    const auto delay =
        done ? std::chrono::milliseconds(static_cast<long long>(options_.waitSeconds * 1000.0))
             : std::chrono::milliseconds(options_.gapMs);
    timer_.expires_after(delay);
    timer_.async_wait([this, next, done](const asio::error_code& ec) {
      if (ec || finished_) return;
      if (done) {
        ReportPending();
        Leave(malformedSeen_ ? kMalformed : kOk);
        return;
      }
      OnLine(options_.sends[next]);
      ScheduleBatch(next + 1);
    });
  }

  void Send(const std::string& plain) {
    queue_.push_back(codec_.EncodeText(plain));
    if (!writing_) WriteNext();
  }

  void WriteNext() {
    if (queue_.empty() || finished_) {
      writing_ = false;
      if (leaving_) Finish();
      return;
    }
    writing_ = true;
    asio::async_write(socket_, asio::buffer(queue_.front()),
                      [this](const asio::error_code& ec, std::size_t) {
                        if (ec) {
                          writing_ = false;
                          if (!finished_) Closed("cannot send: " + ec.message());
                          return;
                        }
                        queue_.pop_front();
                        WriteNext();
                      });
  }

  void Read() {
    socket_.async_read_some(asio::buffer(buffer_),
                            [this](const asio::error_code& ec, std::size_t n) {
                              if (finished_) return;
                              if (ec) {
                                Closed(ec == asio::error::eof ? "connection closed by the server"
                                                              : "connection lost: " + ec.message());
                                return;
                              }
                              items_.clear();
                              stream_.Feed(std::string_view(buffer_.data(), n), items_);
                              for (const PacketStream::Item& item : items_)
                                Show(item);
                              Read();
                            });
  }

  // Bytes after the last terminator when the run ends: a unit that is not a packet.
  void ReportPending() {
    if (stream_.PendingBytes() == 0) return;
    malformedSeen_ = true;
    std::cerr << "orvchat-client: malformed packet: " << stream_.PendingBytes()
              << " bytes without \"//end\": " << Cp1251ToUtf8(EscapeLine(stream_.PendingText()))
              << "\n";
  }

  void Closed(const std::string& why) {
    ReportPending();
    std::cerr << "orvchat-client: " << why << "\n";
    exitCode_ = kClosedByServer;
    Finish();
  }

  void Finish() {
    if (finished_) return;
    finished_ = true;
    asio::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
    timer_.cancel();
    std::cout.flush();
    io_.stop();
  }

  void Show(const PacketStream::Item& item) {
    if (item.kind == PacketStream::Item::Kind::kSocketErrorNotice) {
      Status("the server reports a socket error on one of its connections");
      return;
    }
    const ParsedPacket packet = ParsePacket(item.text);
    if (!packet.wellFormed()) malformedSeen_ = true;
    if (packet.wellFormed() && state_.serverName.empty() &&
        (packet.type == packet_type::kServerText || packet.type == packet_type::kUserList)) {
      state_.serverName = packet.name;
    }
    if (waitingForEcho_ && packet.wellFormed() && packet.type == packet_type::kAnnounce &&
        packet.mac == state_.who.mac && packet.name == state_.who.name) {
      waitingForEcho_ = false;
      timer_.cancel();  // its handler sees waitingForEcho_ off and does nothing
      ScheduleBatch(0);
    }
    if (options_.batch) {
      if (options_.raw) {
        Print(EscapeLine(item.text + std::string(kTerminator)));
        return;
      }
      std::string line = DescribeLine(packet);
      if (!packet.wellFormed()) line += ": " + EscapeLine(item.text);
      Print(line);
      return;
    }
    std::vector<std::string> lines = DescribeLines(packet);
    if (!packet.wellFormed()) lines.push_back("  " + item.text);
    // Names and texts are whatever another client wrote: shown with their control characters
    // escaped, as the server's console shows them, so no sender can steer this terminal.
    for (const std::string& line : lines)
      Print(EscapeControlCharacters(line));
  }

  void Print(const std::string& wireText) {
    if (options_.batch) {
      std::cout << Cp1251ToUtf8(wireText) << '\n';
    } else {
      std::cout << Stamp() << Cp1251ToUtf8(wireText) << std::endl;
    }
  }

  void Status(const std::string& utf8) {
    if (options_.batch) {
      std::cerr << "orvchat-client: " << utf8 << "\n";
    } else {
      std::cout << Stamp() << "-- " << utf8 << std::endl;
    }
  }

  static std::string Stamp() {
    const std::time_t now = std::time(nullptr);
    char text[16] = "";
    if (const std::tm* local = std::localtime(&now)) {
      std::strftime(text, sizeof text, "[%H:%M:%S] ", local);
    }
    return text;
  }

  asio::io_context& io_;
  const WireCodec& codec_;
  Options& options_;
  ClientState state_;
  asio::ip::tcp::socket socket_;
  asio::steady_timer timer_;
  PacketStream stream_;
  std::vector<PacketStream::Item> items_;
  std::array<char, 16384> buffer_{};
  std::deque<std::string> queue_;
  bool writing_ = false;
  bool leaving_ = false;
  bool finished_ = false;
  bool malformedSeen_ = false;
  bool waitingForEcho_ = false;
  int exitCode_ = kOk;
};

}  // namespace

int RunPacketView(Options& options, const WireCodec& codec) {
  // Both live until the process ends: the line reader may still hold them.
  auto& io = *new asio::io_context;
  auto& session = *new Session(io, codec, options);
  if (!session.Connect()) return session.ExitCode();
  if (!options.batch) {
    StartLineReader(
        io, [&session](const std::string& line) { session.OnLine(Utf8ToCp1251(line)); },
        [&session] { session.Leave(kOk); });
  }
  io.run();
  return session.ExitCode();
}

}  // namespace orv::client
