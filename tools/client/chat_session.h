// The chat's side of the connection: connects and announces, turns what arrives into chat
// lines, sends what the user types no faster than the server's AFS value allows, asks for
// the user list again when the server says it changed, and connects again, with growing
// pauses, when the connection drops. Runs on one io_context thread; what it has to say goes
// to a ChatOutput.
#pragma once

#include <array>
#include <asio.hpp>
#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "chat_line.h"
#include "client_commands.h"
#include "conversation.h"
#include "protocol/wire_codec.h"
#include "send_pacer.h"

namespace orv::client {

class ChatOutput {
 public:
  virtual ~ChatOutput() = default;
  virtual void Show(const ChatLine& line) = 0;
  // The connection, the roster or the queue changed (status bar and side pane).
  virtual void Changed() = 0;
  // The session is over, with this exit status.
  virtual void Ended(int status) = 0;
};

class ChatSession {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Link { kConnecting, kConnected, kWaiting, kOver };

  struct Settings {
    std::string host;
    std::string port;
    ClientState state;      // who the client is; its MAC stays the same on every connection
    bool ipGiven = false;   // else the header carries each connection's local address
    bool reconnect = true;  // else a closed connection ends the session (status 3)
  };
  static constexpr std::chrono::seconds kConnectLimit{10};
  static constexpr std::chrono::seconds kLongestPause{30};

  ChatSession(asio::io_context& io, const WireCodec& codec, Settings settings, ChatOutput& output);

  void Start();
  // A line the user typed (UTF-8): chat text or a slash command.
  void OnTyped(const std::string& utf8Line);
  // Ends the session (status 0). With drain, what was typed is sent first (as the AFS value
  // allows): the end of a script's input.
  void Quit(bool drain = false);

  Link link() const { return link_; }
  Clock::time_point retryAt() const { return retryAt_; }
  std::size_t waiting() const;  // typed packets waiting to be sent
  int afs() const { return pacer_.limit(); }
  const Conversation& conversation() const { return conversation_; }
  const std::string& address() const { return address_; }
  const ClientState& state() const { return settings_.state; }

 private:
  struct Outgoing {
    std::string wire;   // encoded
    bool typed = true;  // what the user typed (else the client's own announcement)
  };

  void Connect();
  void OnConnected();
  void ConnectFailed(const std::string& why);
  void Read();
  void Dropped(const std::string& why);
  void WaitThenConnect(const std::string& why);
  void Enqueue(const std::string& plainPacket, bool typed, bool first = false);
  void Pump();
  void AskForList();
  void ListChanged();
  void Notice(const std::string& text, Tone tone = Tone::kNotice);
  void Help();

  asio::io_context& io_;
  const WireCodec& codec_;
  Settings settings_;
  ChatOutput& output_;
  std::string address_;  // "host:port" as given
  Conversation conversation_;
  SendPacer pacer_;

  asio::ip::tcp::resolver resolver_;
  asio::ip::tcp::socket socket_;
  asio::steady_timer connectTimer_;
  asio::steady_timer retryTimer_;
  asio::steady_timer paceTimer_;
  asio::steady_timer listTimer_;
  unsigned generation_ = 0;  // of the connection; handlers of an earlier one do nothing
  Link link_ = Link::kConnecting;
  bool everConnected_ = false;
  int failures_ = 0;  // connection attempts in a row that did not last
  Clock::time_point retryAt_;

  std::optional<PacketStream> stream_;  // this connection's
  std::vector<PacketStream::Item> items_;
  std::array<char, 16384> buffer_{};
  std::deque<Outgoing> queue_;
  bool writing_ = false;
  bool paceTimerArmed_ = false;
  bool pacingSaid_ = false;  // the user was told the queue waits for the AFS value
  bool listAsked_ = false;   // a list request is queued or its answer is awaited
  Clock::time_point listAskedAt_;
  bool listTimerArmed_ = false;
  bool quitWhenSent_ = false;
  std::minstd_rand random_;
};

}  // namespace orv::client
