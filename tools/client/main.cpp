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
#include <variant>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#endif

#include "app/cli_convention.h"
#include "client_commands.h"
#include "client_packets.h"
#include "console/code_page.h"
#include "console/escape.h"
#include "console/version.h"
#include "protocol/text_fields.h"
#include "protocol/wire_codec.h"
#include "protocol/wire_constants.h"
#include "settings_codec.h"

namespace orv::client {
namespace {

// Exit codes scripts can tell apart.
enum ExitCode : int {
  kOk = 0,
  kBadSettings = 1,  // the settings file (or the output) could not be used
  kUsage = orv::kUsageErrorStatus,
  kClosedByServer = 3,
  kMalformed = 4,
  kConnectFailed = 5,
};

constexpr const char* kUsageLine =
    "orvchat-client [OPTIONS] HOST:PORT  or  orvchat-client --encode|--decode [OPTIONS]";

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

// Parses the command line; how the program ends instead when it should end at once.
std::variant<Options, orv::CommandLineEnd> ParseOptions(std::vector<std::string> args) {
  Options options;
  std::string name = "tester";
  std::string mac;
  std::string ip;
  std::string avatar = "1.gif";
  std::string statusText;
  std::string subject;
  std::string serverName;
  bool noAnnounce = false;
  bool encode = false;
  bool decode = false;
  std::vector<std::string> positional;

  CLI::App app(
      "A terminal chat client for the ORV chat server: connects, announces itself and shows "
      "what arrives (one packet a line in scripts), or substitutes text as the wire does.",
      "orvchat-client");
  const char* who = "Who the client is";
  app.add_option("-n,--name", name, "user name (default tester)")->group(who);
  app.add_option("-m,--mac", mac, "MAC text, the server's key for this user (default made up)")
      ->group(who);
  app.add_option("--ip", ip, "IP text written in the header (default the local address)")
      ->group(who);
  app.add_option("--avatar", avatar, "avatar text (default 1.gif)")->group(who);
  app.add_option("--status", options.state.statusCode,
                 "status number of the announcement (default 0)")
      ->type_name("N")
      ->group(who);
  app.add_option("--status-text", statusText, "status text of the announcement (default empty)")
      ->group(who);
  app.add_option("--subject", subject, "subject field of the packets (default 0.0)")->group(who);
  app.add_flag("--no-announce", noAnnounce, "do not send the type-2 announcement after connecting")
      ->group(who);
  const char* server = "Server";
  app.add_option("--settings", options.settingsFile,
                 "read ServerPlainAlphabet, ServerWireAlphabet and ServerName from this settings "
                 "file (default: the built-in alphabets)")
      ->type_name("FILE")
      ->group(server);
  app.add_option("--server-name", serverName,
                 "the server's name for /profile (default: learnt from the first type-6 or "
                 "type-37 packet)")
      ->group(server);
  app.add_flag("--raw", options.raw, "print each packet's decoded text as it is")->group("Output");
  const char* scripts = "Scripts (one packet per line on stdout, then exit)";
  app.add_option("-s,--send", options.sends,
                 "send LINE as if typed (chat text or a /command); repeatable")
      ->type_name("LINE")
      ->group(scripts);
  app.add_option("-w,--wait", options.waitSeconds, "wait this long after the last send (default 1)")
      ->type_name("SECONDS")
      ->check(CLI::Range(0.0, 1e6))
      ->group(scripts);
  app.add_option("--gap", options.gapMs,
                 "pause between sends, so each is a receive of its own (default 100)")
      ->type_name("MS")
      ->check(CLI::Range(0, 1000000))
      ->group(scripts);
  const char* codec = "Codec (stdin to stdout)";
  app.add_flag("--encode", encode, "substitute the input")->group(codec);
  app.add_flag("--decode", decode, "reverse the substitution")->group(codec);
  app.add_flag("--utf8", options.utf8, "the plain side is UTF-8 (converted from/to Windows-1251)")
      ->group(codec);
  app.add_flag("--lines", options.lines, "with --decode: a line break after every //end")
      ->group(codec);
  app.add_option("server", positional, "the server as HOST:PORT (or HOST PORT)")
      ->type_name("HOST:PORT");
  app.footer(
      "Exit status: 0 ok, 1 the settings file cannot be used, 2 bad usage, 3 connection closed "
      "by the server, 4 (scripts) a malformed packet arrived, 5 cannot connect.");

  if (auto end = orv::ParseCommandLine(app, std::move(args), orv::ProgramVersion(), kUsageLine)) {
    return *end;
  }
  auto usage = [](const std::string& why) {
    return orv::CommandLineEnd{
        kUsage, {}, "orvchat-client: " + why + "\nUsage: " + kUsageLine + "; see --help\n"};
  };
  if (encode && decode) return usage("--encode and --decode exclude each other");
  options.mode = encode   ? Options::Mode::kEncode
                 : decode ? Options::Mode::kDecode
                          : Options::Mode::kChat;
  options.state.who.name = Utf8ToCp1251(name);
  options.state.who.avatar = Utf8ToCp1251(avatar);
  options.state.statusText = Utf8ToCp1251(statusText);
  if (app.count("--subject") > 0) options.state.subject = Utf8ToCp1251(subject);
  if (app.count("--mac") > 0) {
    options.state.who.mac = Utf8ToCp1251(mac);
    options.macGiven = true;
  }
  if (app.count("--ip") > 0) {
    options.state.who.ip = Utf8ToCp1251(ip);
    options.ipGiven = true;
  }
  if (app.count("--server-name") > 0) {
    options.state.serverName = Utf8ToCp1251(serverName);
    options.serverNameGiven = true;
  }
  options.announce = !noAnnounce;
  for (std::string& line : options.sends)
    line = Utf8ToCp1251(line);
  options.batch = !options.sends.empty() || app.count("--wait") > 0;

  if (options.mode != Options::Mode::kChat) {
    if (!positional.empty()) return usage("the codec reads stdin and takes no address");
    return options;
  }
  if (positional.size() == 2) {
    options.host = positional[0];
    options.port = positional[1];
  } else if (positional.size() == 1 && positional[0].rfind(':') != std::string::npos) {
    const std::size_t colon = positional[0].rfind(':');
    options.host = positional[0].substr(0, colon);
    options.port = positional[0].substr(colon + 1);
  }
  if (options.host.empty() || options.port.empty()) {
    return usage("give the server as HOST:PORT");
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
  return std::cout ? kOk : kBadSettings;
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
    if (options_.raw) {
      const std::string text = item.text + std::string(kTerminator);
      Print(options_.batch ? EscapeLine(text) : EscapeControlCharacters(text));
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

#if defined(_WIN32)

// Windows hands main() its arguments in the system's code page, and its console speaks that
// code page too, while the client's names and texts are UTF-8 on the terminal side: take
// the arguments from the wide command line, and let the console speak UTF-8 while the
// client runs.
std::vector<std::string> Arguments(int, char**) {
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return args;
  for (int i = 1; i < count; ++i) {
    const int length = static_cast<int>(wcslen(wide[i]));
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], length, nullptr, 0, nullptr, nullptr);
    std::string arg(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
      WideCharToMultiByte(CP_UTF8, 0, wide[i], length, arg.data(), size, nullptr, nullptr);
    args.push_back(std::move(arg));
  }
  LocalFree(wide);
  return args;
}

class Utf8Console {
 public:
  Utf8Console() : output_(GetConsoleOutputCP()), input_(GetConsoleCP()) {
    SetConsoleOutputCP(CP_UTF8);
    SetConsoleCP(CP_UTF8);
  }
  ~Utf8Console() { Restore(); }
  Utf8Console(const Utf8Console&) = delete;
  Utf8Console& operator=(const Utf8Console&) = delete;

  // Gives the console its code pages back (the client leaves through _Exit).
  void Restore() {
    if (output_ != 0) SetConsoleOutputCP(output_);
    if (input_ != 0) SetConsoleCP(input_);
    output_ = input_ = 0;
  }

 private:
  UINT output_;
  UINT input_;
};

#else

std::vector<std::string> Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

struct Utf8Console {
  void Restore() {}
};

#endif

}  // namespace
}  // namespace orv::client

int main(int argc, char** argv) {
  using namespace orv::client;
  Utf8Console console;
  auto parsed = ParseOptions(Arguments(argc, argv));
  if (const auto* end = std::get_if<orv::CommandLineEnd>(&parsed)) {
    std::cout << end->out;
    std::cerr << end->err;
    return end->status;
  }
  auto options = std::get_if<Options>(&parsed);
  auto codec = LoadCodec(*options);
  if (!codec) return kBadSettings;
  int code = kOk;
  if (options->mode != Options::Mode::kChat) {
    code = RunCodec(*options, *codec);
  } else {
    code = RunChat(*options, *codec);
  }
  std::cout.flush();
  std::cerr.flush();
  // Not fflush(nullptr): that would wait for the lock of stdin, which the terminal reader
  // holds while it waits for a line, so the client would end only after the next typed line.
  std::fflush(stdout);
  std::fflush(stderr);
  console.Restore();
  // The terminal reader may still be blocked in its read; leave without waiting for it.
  std::_Exit(code);
}
