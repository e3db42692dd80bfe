// orvchat-client: a terminal chat client for operators and testers, and a codec filter for
// reading captured streams. Wire text is Windows-1251; the terminal is UTF-8.
#include <asio.hpp>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#endif

#include "chat_ui.h"
#include "cli/cli_convention.h"
#include "client_options.h"
#include "console/code_page.h"
#include "console/version.h"
#include "packet_session.h"
#include "protocol/wire_codec.h"
#include "protocol/wire_constants.h"
#include "settings_codec.h"

namespace orv::client {
namespace {

static_assert(kUsage == orv::kUsageErrorStatus);

constexpr const char* kUsageLine =
    "orvchat-client [OPTIONS] HOST[:PORT]  or  orvchat-client --encode|--decode [OPTIONS]";

// "host", "host:port", "[v6]:port" or a bare IPv6 address; the port defaults to the
// server's.
void SplitAddress(const std::string& text, std::string& host, std::string& port) {
  port = kDefaultPort;
  if (text.starts_with("[")) {
    const std::size_t close = text.find(']');
    if (close == std::string::npos) return;
    host = text.substr(1, close - 1);
    if (close + 1 < text.size() && text[close + 1] == ':') port = text.substr(close + 2);
    return;
  }
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos) {
    host = text;  // a name, an IPv4 address or a bare IPv6 address
    return;
  }
  host = text.substr(0, colon);
  port = text.substr(colon + 1);
}

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
      "A terminal chat client for the ORV chat server: a chat screen at a terminal (input "
      "line, history, scrollback, who is online), plain chat lines when piped, one packet a "
      "line in scripts; or a filter that substitutes text as the wire does.",
      "orvchat-client");
  const char* who = "Who the client is";
  app.add_option("-n,--name", name, "user name (default tester)")->group(who);
  app.add_option("-m,--mac", mac, "MAC text, the server's key for this user (default made up)")
      ->group(who);
  app.add_option("--ip", ip, "IP text written in the header (default the local address)")
      ->group(who);
  app.add_option("--avatar", avatar, "avatar text (default 1.gif)")->group(who);
  app.add_option("--status", options.state.statusCode,
                 "status number of the announcement (default 0; the chat announces 1, "
                 "online)")
      ->type_name("N")
      ->group(who);
  app.add_option("--status-text", statusText,
                 "status text of the announcement (default empty; the chat's is online)")
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
  app.add_flag("--raw", options.raw,
               "the packet view instead of the chat: each packet with its sender and type (in "
               "scripts: its decoded text as it is)")
      ->group("Output");
  const char* scripts = "Scripts (one packet per line on stdout, then exit)";
  app.add_option("-s,--send", options.sends,
                 "send LINE as if typed (chat text or a /command); repeatable")
      ->type_name("LINE")
      ->allow_extra_args(false)  // one line each time, so the address may follow
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
  app.add_option("server", positional,
                 std::string("the server as HOST[:PORT] (or HOST PORT); the port defaults to ") +
                     kDefaultPort)
      ->type_name("HOST[:PORT]");
  app.footer(
      "The chat screen reconnects when the connection drops; /quit leaves. Exit status: 0 "
      "ok, 1 the settings file cannot be used, 2 bad usage, 3 connection closed by the server "
      "(scripts, --raw and piped chat), 4 (scripts) a malformed packet arrived, 5 cannot "
      "connect.");

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
  options.statusGiven = app.count("--status") > 0 || app.count("--status-text") > 0;
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
  } else if (positional.size() == 1) {
    SplitAddress(positional[0], options.host, options.port);
  }
  if (options.host.empty() || options.port.empty()) {
    return usage("give the server as HOST or HOST:PORT");
  }
  if (!options.statusGiven && !options.batch && !options.raw) {
    // A person at the chat is online; scripts keep the plain announcement they always sent.
    options.state.statusCode = 1;
    options.state.statusText = "online";
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
  } else if (options->batch || options->raw) {
    code = RunPacketView(*options, *codec);
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
