// orvchat-client: a terminal chat client for operators and testers, and a codec filter for
// reading captured streams. Wire text is Windows-1251; the terminal is UTF-8.
#include <asio.hpp>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "client_commands.h"
#include "client_packets.h"
#include "console/code_page.h"
#include "protocol/text_fields.h"
#include "protocol/wire_codec.h"
#include "protocol/wire_constants.h"
#include "settings_codec.h"

namespace orv::client {
namespace {

// Exit codes scripts can tell apart.
enum ExitCode : int {
  kOk = 0,
  kUsage = 1,
  kConnectFailed = 2,
  kClosedByServer = 3,
  kMalformed = 4,
};

constexpr std::string_view kUsageText =
    "usage: orvchat-client [options] HOST:PORT\n"
    "       orvchat-client --encode|--decode [--utf8] [--lines] [--settings FILE] < in > out\n"
    "\n"
    "Who the client is:\n"
    "  --name NAME          user name (default tester)\n"
    "  --mac TEXT           MAC text, the server's key for this user (default made up)\n"
    "  --ip TEXT            IP text written in the header (default the local address)\n"
    "  --avatar TEXT        avatar text (default 1.gif)\n"
    "  --status N           status number of the announcement (default 0)\n"
    "  --status-text TEXT   status text of the announcement (default empty)\n"
    "  --subject TEXT       subject field of the packets (default 0.0)\n"
    "  --no-announce        do not send the type-2 announcement after connecting\n"
    "Server:\n"
    "  --settings FILE      read ServerPlainAlphabet, ServerWireAlphabet and ServerName\n"
    "                       from this settings file (default: the built-in alphabets)\n"
    "  --server-name NAME   the server's name for /profile (default: learnt from the\n"
    "                       first type-6 or type-37 packet)\n"
    "Output:\n"
    "  --raw                print each packet's decoded text as it is\n"
    "Scripts (one packet per line on stdout, then exit):\n"
    "  --send LINE          send LINE as if typed (chat text or a /command); repeatable\n"
    "  --wait SECONDS       wait this long after the last send (default 1)\n"
    "  --gap MS             pause between sends, so each is a receive of its own (default 100)\n"
    "Codec (stdin to stdout):\n"
    "  --encode / --decode  substitute or reverse the substitution\n"
    "  --utf8               the plain side is UTF-8 (converted from/to Windows-1251)\n"
    "  --lines              with --decode: a line break after every //end\n"
    "Exit status: 0 ok, 1 bad usage or settings, 2 cannot connect, 3 connection closed by\n"
    "the server, 4 (scripts) a malformed packet arrived.\n";

struct Options {
  enum class Mode { kChat, kEncode, kDecode };
  Mode mode = Mode::kChat;
  std::string host;
  std::string port;
  ClientState state;
  bool macGiven = false;
  bool ipGiven = false;
  std::string settingsFile;
  bool serverNameGiven = false;
  bool raw = false;
  bool announce = true;
  bool batch = false;
  std::vector<std::string> sends;
  double waitSeconds = 1.0;
  int gapMs = 100;
  bool utf8 = false;
  bool lines = false;
};

std::optional<double> ReadNumber(const std::string& text) {
  try {
    std::size_t used = 0;
    const double value = std::stod(text, &used);
    if (used != text.size() || value < 0 || value > 1e6) return std::nullopt;
    return value;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// Parses the command line; on a mistake prints it and returns nothing.
std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  options.state.who.name = "tester";
  options.state.who.avatar = "1.gif";
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) {
        std::cerr << "orvchat-client: " << arg << " needs a value\n";
        return false;
      }
      out = argv[++i];
      return true;
    };
    std::string text;
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsageText;
      std::exit(kOk);
    } else if (arg == "--name") {
      if (!value(text)) return std::nullopt;
      options.state.who.name = Utf8ToCp1251(text);
    } else if (arg == "--mac") {
      if (!value(text)) return std::nullopt;
      options.state.who.mac = Utf8ToCp1251(text);
      options.macGiven = true;
    } else if (arg == "--ip") {
      if (!value(text)) return std::nullopt;
      options.state.who.ip = Utf8ToCp1251(text);
      options.ipGiven = true;
    } else if (arg == "--avatar") {
      if (!value(text)) return std::nullopt;
      options.state.who.avatar = Utf8ToCp1251(text);
    } else if (arg == "--status") {
      if (!value(text)) return std::nullopt;
      const auto number = ReadNumber(text);
      if (!number || *number != static_cast<int>(*number)) {
        std::cerr << "orvchat-client: --status needs a whole number, not \"" << text << "\"\n";
        return std::nullopt;
      }
      options.state.statusCode = static_cast<int>(*number);
    } else if (arg == "--status-text") {
      if (!value(text)) return std::nullopt;
      options.state.statusText = Utf8ToCp1251(text);
    } else if (arg == "--subject") {
      if (!value(text)) return std::nullopt;
      options.state.subject = Utf8ToCp1251(text);
    } else if (arg == "--no-announce") {
      options.announce = false;
    } else if (arg == "--settings") {
      if (!value(options.settingsFile)) return std::nullopt;
    } else if (arg == "--server-name") {
      if (!value(text)) return std::nullopt;
      options.state.serverName = Utf8ToCp1251(text);
      options.serverNameGiven = true;
    } else if (arg == "--raw") {
      options.raw = true;
    } else if (arg == "--send") {
      if (!value(text)) return std::nullopt;
      options.sends.push_back(Utf8ToCp1251(text));
      options.batch = true;
    } else if (arg == "--wait" || arg == "--gap") {
      if (!value(text)) return std::nullopt;
      const auto number = ReadNumber(text);
      if (!number) {
        std::cerr << "orvchat-client: " << arg << " needs a number, not \"" << text << "\"\n";
        return std::nullopt;
      }
      if (arg == "--wait") {
        options.waitSeconds = *number;
        options.batch = true;
      } else {
        options.gapMs = static_cast<int>(*number);
      }
    } else if (arg == "--encode") {
      options.mode = Options::Mode::kEncode;
    } else if (arg == "--decode") {
      options.mode = Options::Mode::kDecode;
    } else if (arg == "--utf8") {
      options.utf8 = true;
    } else if (arg == "--lines") {
      options.lines = true;
    } else if (arg.starts_with("-") && arg.size() > 1) {
      std::cerr << "orvchat-client: unknown option " << arg << "\n" << kUsageText;
      return std::nullopt;
    } else {
      positional.push_back(arg);
    }
  }
  if (options.mode != Options::Mode::kChat) {
    if (!positional.empty()) {
      std::cerr << "orvchat-client: the codec reads stdin and takes no address\n";
      return std::nullopt;
    }
    return options;
  }
  if (positional.size() == 2) {
    options.host = positional[0];
    options.port = positional[1];
  } else if (positional.size() == 1 && positional[0].rfind(':') != std::string::npos) {
    const std::size_t colon = positional[0].rfind(':');
    options.host = positional[0].substr(0, colon);
    options.port = positional[0].substr(colon + 1);
  } else {
    std::cerr << "orvchat-client: give the server as HOST:PORT\n" << kUsageText;
    return std::nullopt;
  }
  if (options.host.empty() || options.port.empty()) {
    std::cerr << "orvchat-client: give the server as HOST:PORT\n";
    return std::nullopt;
  }
  return options;
}

// The codec the server uses: the built-in pair, or the pair of a settings file.
std::optional<WireCodec> LoadCodec(Options& options) {
  if (options.settingsFile.empty()) return WireCodec::BuiltIn();
  std::string error;
  std::string name;
  auto codec = CodecFromSettings(options.settingsFile, &name, &error);
  if (!codec) std::cerr << "orvchat-client: " << error << "\n";
  if (!options.serverNameGiven && !name.empty()) options.state.serverName = name;
  return codec;
}

int RunCodec(const Options& options, const WireCodec& codec) {
  std::ios::sync_with_stdio(false);
  const std::string input((std::istreambuf_iterator<char>(std::cin)),
                          std::istreambuf_iterator<char>());
  std::string output;
  if (options.mode == Options::Mode::kEncode) {
    output = codec.EncodeText(options.utf8 ? Utf8ToCp1251(input) : input);
  } else {
    const std::string plain = codec.DecodeText(input);
    if (options.lines) {
      std::size_t start = 0;
      while (start < plain.size()) {
        const std::size_t end = plain.find(kTerminator, start);
        if (end == std::string::npos) {
          output.append(plain, start);
          break;
        }
        output.append(plain, start, end + kTerminator.size() - start);
        output += '\n';
        start = end + kTerminator.size();
      }
    } else {
      output = plain;
    }
    if (options.utf8) output = Cp1251ToUtf8(output);
  }
  std::cout.write(output.data(), static_cast<std::streamsize>(output.size()));
  std::cout.flush();
  return std::cout ? kOk : kUsage;
}

std::string MadeUpMac() {
  const auto seed =
      static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  char text[16];
  std::snprintf(text, sizeof text, "C0%010llX", (seed ^ (seed >> 29)) & 0xFFFFFFFFFFull);
  return text;
}

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
        if (options_.batch) exitCode_ = kUsage;
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
    if (options_.raw) {
      const std::string text = item.text + std::string(kTerminator);
      Print(options_.batch ? EscapeLine(text) : text);
      return;
    }
    if (options_.batch) {
      std::string line = DescribeLine(packet);
      if (!packet.wellFormed()) line += ": " + EscapeLine(item.text);
      Print(line);
      return;
    }
    std::vector<std::string> lines = DescribeLines(packet);
    if (!packet.wellFormed()) lines.push_back("  " + item.text);
    for (const std::string& line : lines)
      Print(line);
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

int RunChat(Options& options, const WireCodec& codec) {
  // Both live until the process ends: the terminal reader may still hold them.
  auto& io = *new asio::io_context;
  auto& session = *new Session(io, codec, options);
  if (!session.Connect()) return session.ExitCode();
  if (!options.batch) {
    // Reading the terminal blocks, so it has a thread of its own that only reads a line and
    // hands it to the network thread. It is left blocked in its read at exit.
    std::thread([&io, &session] {
      std::string line;
      while (std::getline(std::cin, line)) {
        asio::post(io, [&session, text = Utf8ToCp1251(line)] { session.OnLine(text); });
      }
      asio::post(io, [&session] { session.Leave(kOk); });
    }).detach();
  }
  io.run();
  return session.ExitCode();
}

}  // namespace
}  // namespace orv::client

int main(int argc, char** argv) {
  using namespace orv::client;
  auto options = ParseOptions(argc, argv);
  if (!options) return kUsage;
  auto codec = LoadCodec(*options);
  if (!codec) return kUsage;
  int code = kOk;
  if (options->mode != Options::Mode::kChat) {
    code = RunCodec(*options, *codec);
  } else {
    code = RunChat(*options, *codec);
  }
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  // The terminal reader may still be blocked in its read; leave without waiting for it.
  std::_Exit(code);
}
