#include "chat_session.h"

#include <algorithm>

#include "client_options.h"
#include "console/code_page.h"
#include "protocol/wire_constants.h"

namespace orv::client {

namespace {

// What the user typed, without the control characters a terminal or a pipe may bring along:
// a tab is a blank, the rest is dropped, so no typed line can steer another terminal.
std::string WithoutControlCharacters(std::string_view text) {
  std::string clean;
  clean.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\t') {
      clean += ' ';
    } else if (byte >= 0x20 && byte != 0x7F) {
      clean += c;
    }
  }
  return clean;
}

std::string Seconds(std::chrono::steady_clock::duration pause) {
  return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(pause).count()) + " s";
}

}  // namespace

ChatSession::ChatSession(asio::io_context& io, const WireCodec& codec, Settings settings,
                         ChatOutput& output)
    : io_(io),
      codec_(codec),
      settings_(std::move(settings)),
      output_(output),
      address_(settings_.host + ":" + settings_.port),
      conversation_(settings_.state.who.mac),
      resolver_(io),
      socket_(io),
      connectTimer_(io),
      retryTimer_(io),
      paceTimer_(io),
      listTimer_(io),
      random_(static_cast<unsigned>(Clock::now().time_since_epoch().count())) {}

void ChatSession::Start() {
  Connect();
}

void ChatSession::Connect() {
  link_ = Link::kConnecting;
  output_.Changed();
  const unsigned generation = ++generation_;
  resolver_.async_resolve(
      settings_.host, settings_.port,
      [this, generation](const asio::error_code& ec,
                         const asio::ip::tcp::resolver::results_type& endpoints) {
        if (generation != generation_) return;
        if (ec) {
          ConnectFailed(ec.message());
          return;
        }
        // A host that does not answer at all would keep the attempt for minutes.
        connectTimer_.expires_after(kConnectLimit);
        connectTimer_.async_wait([this, generation](const asio::error_code& timerError) {
          if (timerError || generation != generation_) return;
          asio::error_code ignored;
          socket_.close(ignored);
        });
        asio::async_connect(socket_, endpoints,
                            [this, generation](const asio::error_code& connectError,
                                               const asio::ip::tcp::endpoint&) {
                              if (generation != generation_) return;
                              connectTimer_.cancel();
                              if (connectError == asio::error::operation_aborted) {
                                ConnectFailed("no answer within " + Seconds(kConnectLimit));
                              } else if (connectError) {
                                ConnectFailed(connectError.message());
                              } else {
                                OnConnected();
                              }
                            });
      });
}

void ChatSession::OnConnected() {
  link_ = Link::kConnected;
  everConnected_ = true;
  asio::error_code ec;
  socket_.set_option(asio::ip::tcp::no_delay(true), ec);
  if (!settings_.ipGiven) {
    const auto local = socket_.local_endpoint(ec);
    if (!ec) settings_.state.who.ip = local.address().to_string();
  }
  stream_.emplace(codec_);
  conversation_.Connected();
  Notice("connected to " + address_ + " as " + ShownText(settings_.state.who.name));
  // The announcement goes first: it makes this client a user and brings the user list.
  Enqueue(AnnouncePacket(settings_.state), false, true);
  listAsked_ = true;
  listAskedAt_ = Clock::now();
  Read();
  output_.Changed();
}

void ChatSession::ConnectFailed(const std::string& why) {
  asio::error_code ignored;
  socket_.close(ignored);
  if (!everConnected_) {
    Notice("cannot connect to " + address_ + ": " + why, Tone::kWarning);
    link_ = Link::kOver;
    output_.Ended(kConnectFailed);
    return;
  }
  WaitThenConnect("cannot connect to " + address_ + ": " + why);
}

void ChatSession::Read() {
  const unsigned generation = generation_;
  socket_.async_read_some(
      asio::buffer(buffer_), [this, generation](const asio::error_code& ec, std::size_t count) {
        if (generation != generation_) return;
        if (ec) {
          Dropped(ec == asio::error::eof ? "connection closed by the server"
                                         : "connection lost: " + ec.message());
          return;
        }
        failures_ = 0;  // the server answers: the next drop starts with a short pause again
        items_.clear();
        stream_->Feed(std::string_view(buffer_.data(), count), items_);
        bool changed = false;
        for (const PacketStream::Item& item : items_) {
          Conversation::Outcome outcome = conversation_.Take(item);
          for (const ChatLine& line : outcome.lines)
            output_.Show(line);
          if (outcome.afs && *outcome.afs != pacer_.limit()) {
            pacer_.SetLimit(*outcome.afs);
            changed = true;
          }
          if (outcome.refreshed) ListChanged();
          if (outcome.listed) listAsked_ = false;
          changed = changed || outcome.rosterChanged;
          if (generation != generation_) return;  // a line's output ended the session
        }
        if (changed) output_.Changed();
        Pump();
        Read();
      });
}

void ChatSession::Dropped(const std::string& why) {
  ++generation_;
  asio::error_code ignored;
  socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  socket_.close(ignored);
  writing_ = false;
  paceTimer_.cancel();
  listTimer_.cancel();
  paceTimerArmed_ = false;
  listTimerArmed_ = false;
  listAsked_ = false;
  // The client's own packets are made again for the next connection; what was typed waits.
  std::erase_if(queue_, [](const Outgoing& packet) { return !packet.typed; });
  if (!settings_.reconnect) {
    Notice(why);
    link_ = Link::kOver;
    output_.Ended(kClosedByServer);
    return;
  }
  WaitThenConnect(why);
}

void ChatSession::WaitThenConnect(const std::string& why) {
  const auto pause =
      std::min<Clock::duration>(std::chrono::seconds(1 << std::min(failures_, 5)), kLongestPause);
  ++failures_;
  link_ = Link::kWaiting;
  retryAt_ = Clock::now() + pause;
  Notice(why + "; connecting again in " + Seconds(pause));
  output_.Changed();
  const unsigned generation = generation_;
  retryTimer_.expires_after(pause);
  retryTimer_.async_wait([this, generation](const asio::error_code& ec) {
    if (ec || generation != generation_ || link_ != Link::kWaiting) return;
    Connect();
  });
}

void ChatSession::Enqueue(const std::string& plainPacket, bool typed, bool first) {
  Outgoing packet{codec_.EncodeText(plainPacket), typed};
  if (first) {
    // Not in front of a packet that is being written.
    queue_.insert(queue_.begin() + (writing_ && !queue_.empty() ? 1 : 0), std::move(packet));
  } else {
    queue_.push_back(std::move(packet));
  }
  Pump();
}

std::size_t ChatSession::waiting() const {
  return static_cast<std::size_t>(
      std::count_if(queue_.begin(), queue_.end(), [](const Outgoing& p) { return p.typed; }));
}

void ChatSession::Pump() {
  if (writing_ || link_ != Link::kConnected || queue_.empty()) return;
  const auto now = Clock::now();
  if (!pacer_.TryTake(now)) {
    if (!paceTimerArmed_) {
      paceTimerArmed_ = true;
      const unsigned generation = generation_;
      paceTimer_.expires_at(pacer_.NextFree(now));
      paceTimer_.async_wait([this, generation](const asio::error_code& ec) {
        if (generation != generation_) return;
        paceTimerArmed_ = false;
        if (!ec) Pump();
      });
    }
    if (!pacingSaid_ && waiting() > 0) {
      pacingSaid_ = true;
      Notice("the server allows " + std::to_string(pacer_.limit()) +
             " messages a minute: the rest wait and go as it allows");
    }
    output_.Changed();
    return;
  }
  writing_ = true;
  const unsigned generation = generation_;
  asio::async_write(socket_, asio::buffer(queue_.front().wire),
                    [this, generation](const asio::error_code& ec, std::size_t) {
                      if (generation != generation_) return;
                      writing_ = false;
                      if (ec) {
                        Dropped("connection lost: " + ec.message());
                        return;
                      }
                      const bool typed = queue_.front().typed;
                      queue_.pop_front();
                      if (waiting() == 0) {
                        pacingSaid_ = false;
                        if (quitWhenSent_) {
                          Quit();
                          return;
                        }
                      }
                      if (typed) output_.Changed();
                      Pump();
                    });
}

void ChatSession::ListChanged() {
  // Every client gets the refresh at once; a pause of its own keeps them from all asking
  // in the same moment, and lets the refreshes of one login come as one.
  if (listTimerArmed_ || link_ != Link::kConnected) return;
  listTimerArmed_ = true;
  const unsigned generation = generation_;
  listTimer_.expires_after(std::chrono::milliseconds(2000 + random_() % 1000));
  listTimer_.async_wait([this, generation](const asio::error_code& ec) {
    if (generation != generation_) return;
    listTimerArmed_ = false;
    if (!ec) AskForList();
  });
}

void ChatSession::AskForList() {
  // The list only comes as the answer to an announcement; one at a time (an announcement
  // the server refused brings no answer: ask again after a while).
  if (listAsked_ && Clock::now() - listAskedAt_ < std::chrono::seconds(10)) return;
  listAsked_ = true;
  listAskedAt_ = Clock::now();
  Enqueue(AnnouncePacket(settings_.state), false);
}

void ChatSession::OnTyped(const std::string& utf8Line) {
  if (link_ == Link::kOver) return;
  std::string line = Utf8ToCp1251(WithoutControlCharacters(utf8Line));
  if (line.empty()) return;
  if (line.front() == '/' && !line.starts_with("//")) {
    std::string_view rest = std::string_view(line).substr(1);
    const std::string word(rest.substr(0, rest.find(' ')));
    rest = rest.size() > word.size() ? rest.substr(word.size() + 1) : std::string_view();
    if (word == "quit" || word == "exit") {
      Quit();
      return;
    }
    if (word == "help") {
      Help();
      return;
    }
    if (word == "who" || word == "names" || word == "list") {
      for (const ChatLine& who : conversation_.WhoLines())
        output_.Show(who);
      return;
    }
    if (word == "away") line = "/status 2 " + std::string(rest.empty() ? "away" : rest);
    if (word == "busy") line = "/status 3 " + std::string(rest.empty() ? "busy" : rest);
    if (word == "back") line = "/status 1 online";
  }
  if (settings_.state.serverName.empty()) {
    settings_.state.serverName = conversation_.serverName();  // for /profile
  }
  const Action action = TranslateInput(line, settings_.state);
  switch (action.kind) {
    case Action::Kind::kNothing:
      return;
    case Action::Kind::kQuit:
      Quit();
      return;
    case Action::Kind::kHelp:
      Help();
      return;
    case Action::Kind::kError:
      Notice(Cp1251ToUtf8(action.message), Tone::kWarning);
      return;
    case Action::Kind::kSend:
      Enqueue(action.text, true);
      if (everConnected_ && link_ != Link::kConnected) {
        Notice("not connected: the line goes once connected again");
      }
      output_.Changed();
      return;
  }
}

void ChatSession::Quit(bool drain) {
  if (link_ == Link::kOver) return;
  if (drain && waiting() > 0 && (link_ == Link::kConnected || link_ == Link::kConnecting)) {
    quitWhenSent_ = true;
    return;
  }
  link_ = Link::kOver;
  ++generation_;
  asio::error_code ignored;
  resolver_.cancel();
  connectTimer_.cancel();
  retryTimer_.cancel();
  paceTimer_.cancel();
  listTimer_.cancel();
  socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  socket_.close(ignored);
  output_.Ended(kOk);
}

void ChatSession::Notice(const std::string& text, Tone tone) {
  output_.Show(ChatLine{{{"-- " + text, tone}}});
}

void ChatSession::Help() {
  static constexpr const char* kLines[] = {
      "Type a line and press Enter to send it to everybody; start it with // to send a "
      "leading /.",
      "  /who              who is online (also /names)",
      "  /away [TEXT]      say you are away; /busy [TEXT] busy; /back online again",
      "  /status N TEXT    any status number and text",
      "  /profile [NAME]   ask for a profile, the server's by default",
      "  /file NAME TEXT   post a file to the server's board",
      "  /send TYPE BODY   send a packet of any type; /raw TEXT sends TEXT as it is",
      "  /quit             leave (also Ctrl+C)",
      "Keys: Up/Down the lines sent before, PgUp/PgDn the conversation, Tab completes a "
      "name, Ctrl+A/E/U/K/W edit the line.",
  };
  for (const char* text : kLines)
    output_.Show(ChatLine{{{text, Tone::kNotice}}});
}

}  // namespace orv::client
