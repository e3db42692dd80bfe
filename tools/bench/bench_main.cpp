// orvchat-bench: a load generator for the chat server (or any relay) on 127.0.0.1. Prints
// one JSON line per run. Two kinds of run:
//   load   R receivers and S senders announce themselves, then the senders send stamped
//          chat packets for a while; deliveries per second, latency, losses, and the CPU and
//          memory of the server process and of the generator itself.
//   login  N clients connect and announce themselves at once (a login storm); the time
//          until every client knows every name, and the server's CPU and memory. A client
//          knows a name from its own list answer (type 37) or from a relayed announcement
//          (type 2), as a real client keeps its list; full_answers counts the clients whose
//          own answer listed all N (normally only the last to announce).
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <variant>

#include "cli/cli_convention.h"
#include "console/version.h"
#include "load_generator.h"
#include "process_stats.h"
#include "settings_codec.h"

namespace orv::bench {
namespace {

enum ExitCode : int {
  kOk = 0,
  kCannotRun = 1,  // the settings file or the open-file limit
  kUsage = orv::kUsageErrorStatus,
  kSetupFailed = 3,
  kFaults = 4,
  kConnectFailed = 5,
};

constexpr const char* kUsageLine = "orvchat-bench --port PORT [--login N] [OPTIONS]";

struct Options {
  int port = -1;
  int receivers = 100;
  int senders = 1;
  int size = 100;
  double duration = 5;
  int window = 4;
  double rate = 0;
  int threads = 1;
  int login = 0;
  int connectWindow = -1;
  long serverPid = 0;
  std::string label = "server";
  std::string settings;
  double setupTimeout = 120;
  double drain = 5;
  double settle = -1;
};

// Parses the command line; how the program ends instead when it should end at once.
std::variant<Options, orv::CommandLineEnd> ParseOptions(int argc, char** argv) {
  Options options;
  CLI::App app(
      "A load generator for the chat server (or any relay), always on 127.0.0.1; one JSON line "
      "per run. A load run has R receivers and S senders announce themselves, then the senders "
      "send stamped chat packets for a while. A login storm (--login N) reports when every "
      "client knew all N names, from its list answer (type 37) and the relayed announcements "
      "(type 2) together.",
      "orvchat-bench");
  const auto seconds = CLI::Range(0.0, 86400.0);
  app.add_option("-p,--port", options.port, "the server's port on 127.0.0.1")
      ->required()
      ->check(CLI::Range(1, 65535));
  app.add_option("-r,--receivers", options.receivers, "listening clients (default 100)")
      ->check(CLI::Range(0, 100000));
  app.add_option("-s,--senders", options.senders, "sending clients, which listen too (default 1)")
      ->check(CLI::Range(0, 10000));
  app.add_option("--size", options.size,
                 "bytes per chat packet, header and //end included (default 100)")
      ->type_name("BYTES")
      ->check(CLI::Range(1, 4095));
  app.add_option("-d,--duration", options.duration,
                 "length of the measured window in seconds (default 5)")
      ->check(seconds);
  app.add_option("--window", options.window,
                 "closed loop: packets in flight per sender (default 4; capped so a sender never "
                 "has 4096 bytes unread at the server)")
      ->check(CLI::Range(1, 4095));
  app.add_option("--rate", options.rate, "fixed rate instead: packets per second per sender")
      ->check(CLI::Range(0.0, 1e9));
  app.add_option("--threads", options.threads, "generator threads, 1 or 2 (default 1)")
      ->check(CLI::Range(1, 2));
  app.add_option("-l,--login", options.login, "login storm of N clients instead of a load run")
      ->type_name("N")
      ->check(CLI::Range(1, 100000));
  app.add_option("--connect-window", options.connectWindow,
                 "clients connecting and announcing at once (default 200 for load runs, 0 = "
                 "all at once for login storms)")
      ->check(CLI::Range(0, 100000));
  app.add_option("--server-pid", options.serverPid, "report this process's CPU time and memory")
      ->type_name("PID")
      ->check(CLI::Range(1L, 1L << 30));
  app.add_option("--label", options.label, "name of the target in the output (default server)");
  app.add_option("--settings", options.settings, "the server's settings file, for its alphabets")
      ->type_name("FILE");
  app.add_option("--setup-timeout", options.setupTimeout,
                 "give up when the clients are not all announced by then (120)")
      ->check(seconds);
  app.add_option("--drain", options.drain,
                 "after the window, wait this long for packets in flight (5)")
      ->check(seconds);
  app.add_option("--settle", options.settle,
                 "load: wait this long after set-up before the window, so that delayed server "
                 "packets (a list refresh) are over (0); login: wait this long before reading "
                 "the server's memory (1)")
      ->check(seconds);
  app.footer(
      "Exit status: 0 ok, 1 cannot run here (settings file, open-file limit), 2 bad usage, 3 "
      "set-up failed, 4 packets were lost, duplicated or malformed or connections closed (the "
      "JSON line is still printed), 5 cannot connect.");
  if (auto end = orv::ParseCommandLine(app, argc, argv, orv::ProgramVersion(), kUsageLine)) {
    return *end;
  }
  if (options.login == 0 && options.senders == 0) {
    return orv::CommandLineEnd{kUsage,
                               {},
                               std::string("orvchat-bench: a load run needs at least one "
                                           "sender\nUsage: ") +
                                   kUsageLine + "; see --help\n"};
  }
  if (options.connectWindow < 0) options.connectWindow = options.login > 0 ? 0 : 200;
  if (options.settle < 0) options.settle = options.login > 0 ? 1 : 0;
  return options;
}

// Every client is a socket: make room for them all, up to the hard limit.
bool RaiseFileLimit(int clients) {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  const rlim_t needed = static_cast<rlim_t>(clients) + 64;
  if (limit.rlim_cur < needed) {
    limit.rlim_cur = std::min(limit.rlim_max, std::max(needed, limit.rlim_cur));
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
  }
  if (limit.rlim_cur < needed) {
    std::cerr << "orvchat-bench: " << clients << " clients need " << needed
              << " open files, but the limit is " << limit.rlim_cur << " (ulimit -n)\n";
    return false;
  }
  return true;
}

std::string RunTag() {
  char tag[8];
  std::snprintf(tag, sizeof tag, "%04X",
                static_cast<unsigned>((getpid() ^ (NowNs() >> 20)) & 0xFFFF));
  return tag;
}

void SleepUntil(std::int64_t ns) {
  while (true) {
    const std::int64_t left = ns - NowNs();
    if (left <= 0) return;
    std::this_thread::sleep_for(std::chrono::nanoseconds(std::min<std::int64_t>(left, 50'000'000)));
  }
}

// A small JSON object writer: keys in insertion order, numbers with fixed precision.
class Json {
 public:
  Json& Text(std::string_view key, std::string_view value) {
    Key(key);
    out_ << '"';
    for (const char c : value) {
      if (c == '"' || c == '\\') out_ << '\\';
      if (static_cast<unsigned char>(c) >= 0x20) out_ << c;
    }
    out_ << '"';
    return *this;
  }
  Json& Int(std::string_view key, long long value) {
    Key(key);
    out_ << value;
    return *this;
  }
  Json& Real(std::string_view key, double value, int digits = 3) {
    Key(key);
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", digits, value);
    out_ << text;
    return *this;
  }
  Json& Null(std::string_view key) {
    Key(key);
    out_ << "null";
    return *this;
  }
  std::string Done() { return out_.str() + "}"; }

 private:
  void Key(std::string_view key) {
    out_ << (first_ ? "{" : ",") << '"' << key << "\":";
    first_ = false;
  }
  std::ostringstream out_;
  bool first_ = true;
};

void ServerFigures(Json& json, const Options& options, const std::optional<ProcessSample>& before,
                   const std::optional<ProcessSample>& after, double deliveries) {
  if (options.serverPid == 0) return;
  if (!before || !after) {
    json.Null("server_cpu_s").Null("server_rss_kb");
    return;
  }
  const double cpu = after->cpuSeconds - before->cpuSeconds;
  json.Real("server_cpu_s", cpu, 2);
  if (deliveries > 0) json.Real("server_cpu_s_per_million", cpu / deliveries * 1e6, 3);
  json.Int("server_rss_kb", after->rssKb).Int("server_peak_rss_kb", after->peakRssKb);
}

std::optional<ProcessSample> Sample(const Options& options) {
  if (options.serverPid == 0) return std::nullopt;
  return SampleProcess(static_cast<pid_t>(options.serverPid));
}

// Waits until every client is announced (and, for a load run, the set-up traffic is over).
int AwaitSetup(LoadGenerator& generator, const Options& options, bool quiet) {
  const std::int64_t deadline = NowNs() + static_cast<std::int64_t>(options.setupTimeout * 1e9);
  const auto all = static_cast<std::uint64_t>(generator.ClientCount());
  while (true) {
    const std::string failure = generator.Failure();
    if (!failure.empty()) {
      std::cerr << "orvchat-bench: " << failure << "\n";
      return failure.starts_with("cannot connect") ? kConnectFailed : kSetupFailed;
    }
    const bool announced = generator.ReadyCount() >= all;
    // Welcome texts, AFS values and the others' announcements trail behind; the window
    // starts once nothing has arrived for a moment.
    if (announced && (!quiet || NowNs() - generator.LastReceiveNs() > 300'000'000)) return kOk;
    if (NowNs() > deadline) {
      std::cerr << "orvchat-bench: only " << generator.ReadyCount() << " of " << all
                << " clients got their announcement back within " << options.setupTimeout << " s\n";
      return kSetupFailed;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int RunLoad(const Options& options, const WireCodec& codec) {
  LoadConfig config;
  config.port = static_cast<std::uint16_t>(options.port);
  config.receivers = options.receivers;
  config.senders = options.senders;
  config.size = static_cast<std::size_t>(options.size);
  config.window = options.window;
  config.rate = options.rate;
  config.threads = options.threads;
  config.connectWindow = options.connectWindow;
  config.codec = &codec;
  config.runTag = RunTag();
  LoadGenerator generator(config);
  if (static_cast<std::size_t>(options.size) < generator.MinimumSize()) {
    std::cerr << "orvchat-bench: --size must be at least " << generator.MinimumSize()
              << " bytes (header and stamp)\n";
    return kUsage;
  }
  if (!RaiseFileLimit(generator.ClientCount())) return kCannotRun;

  const std::int64_t setupStart = NowNs();
  generator.Start(setupStart);
  if (const int code = AwaitSetup(generator, options, true); code != kOk) return code;
  if (options.settle > 0) {
    SleepUntil(NowNs() + static_cast<std::int64_t>(options.settle * 1e9));
    if (const int code = AwaitSetup(generator, options, true); code != kOk) return code;
  }
  const double setupSeconds = static_cast<double>(NowNs() - setupStart) / 1e9;

  const auto serverBefore = Sample(options);
  const double ownBefore = OwnCpuSeconds();
  const std::int64_t start = NowNs();
  const std::int64_t end = start + static_cast<std::int64_t>(options.duration * 1e9);
  generator.BeginRun(start, end);
  SleepUntil(end);
  const auto serverAfter = Sample(options);
  const double ownCpu = OwnCpuSeconds() - ownBefore;

  const auto clients = static_cast<std::uint64_t>(generator.ClientCount());
  const std::int64_t drainEnd = NowNs() + static_cast<std::int64_t>(options.drain * 1e9);
  while (NowNs() < drainEnd && generator.DeliveredCount() < generator.SentCount() * clients) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const LoadResults results = generator.Finish();

  const double window = static_cast<double>(end - start) / 1e9;
  const double rate = static_cast<double>(results.windowDeliveries) / window;
  Json json;
  json.Text("mode", "load").Text("target", options.label);
  json.Int("receivers", options.receivers).Int("senders", options.senders);
  json.Int("size", options.size).Int("threads", options.threads);
  if (options.rate > 0) {
    json.Real("rate_per_sender", options.rate, 1);
  } else {
    json.Int("window", options.window);
  }
  json.Real("duration_s", window, 3).Real("setup_s", setupSeconds, 2);
  json.Int("sent", static_cast<long long>(results.sent));
  json.Int("deliveries", static_cast<long long>(results.deliveries));
  json.Real("deliveries_per_s", rate, 0);
  json.Real("sends_per_s", static_cast<double>(results.sent) / window, 0);
  json.Int("lost", static_cast<long long>(results.lost));
  json.Int("duplicates", static_cast<long long>(results.duplicates));
  json.Int("malformed", static_cast<long long>(results.malformed));
  json.Int("closed", static_cast<long long>(results.closed));
  if (options.rate > 0) json.Int("rate_max_lag", static_cast<long long>(results.rateShortfall));
  json.Real("lat_p50_us", static_cast<double>(results.latency.Quantile(0.50)) / 1e3, 1);
  json.Real("lat_p99_us", static_cast<double>(results.latency.Quantile(0.99)) / 1e3, 1);
  json.Real("lat_max_us", static_cast<double>(results.latency.Max()) / 1e3, 1);
  ServerFigures(json, options, serverBefore, serverAfter,
                static_cast<double>(results.windowDeliveries));
  json.Real("bench_cpu_s", ownCpu, 2);
  json.Real("bench_cpu_cores", ownCpu / window, 2);
  json.Real("bench_thread_busy_max", results.threadBusyMax, 2);
  std::cout << json.Done() << std::endl;

  if (results.threadBusyMax > 0.9) {
    std::cerr << "orvchat-bench: warning: a generator thread was busy "
              << static_cast<int>(results.threadBusyMax * 100)
              << "% of the window; the figures may measure the generator\n";
  }
  const bool faults =
      results.lost > 0 || results.duplicates > 0 || results.malformed > 0 || results.closed > 0;
  if (faults) {
    std::cerr << "orvchat-bench: " << results.lost << " lost, " << results.duplicates
              << " duplicated, " << results.malformed << " malformed, " << results.closed
              << " connections closed\n";
  }
  return faults ? kFaults : kOk;
}

double Seconds(std::int64_t ns) {
  return static_cast<double>(ns) / 1e9;
}

int RunLogin(const Options& options, const WireCodec& codec) {
  LoadConfig config;
  config.port = static_cast<std::uint16_t>(options.port);
  config.receivers = options.login;
  config.senders = 0;
  config.threads = options.threads;
  config.connectWindow = options.connectWindow;
  config.trackLists = true;
  config.codec = &codec;
  config.runTag = RunTag();
  LoadGenerator generator(config);
  if (!RaiseFileLimit(generator.ClientCount())) return kCannotRun;

  const auto serverBefore = Sample(options);
  const double ownBefore = OwnCpuSeconds();
  const std::int64_t start = NowNs();
  generator.Start(start);
  int code = AwaitSetup(generator, options, false);
  const auto all = static_cast<std::uint64_t>(options.login);
  const std::int64_t deadline = start + static_cast<std::int64_t>(options.setupTimeout * 1e9);
  while (code == kOk && generator.CompleteCount() < all) {
    if (NowNs() > deadline) {
      std::cerr << "orvchat-bench: only " << generator.CompleteCount() << " of " << all
                << " clients knew every name within " << options.setupTimeout << " s\n";
      code = kSetupFailed;
      break;
    }
    if (!generator.Failure().empty()) {
      std::cerr << "orvchat-bench: " << generator.Failure() << "\n";
      code = kSetupFailed;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (code != kOk) return code;
  const std::int64_t allKnown = NowNs();
  const auto serverAtEnd = Sample(options);
  const double ownCpu = OwnCpuSeconds() - ownBefore;
  SleepUntil(allKnown + static_cast<std::int64_t>(options.settle * 1e9));
  const auto serverSettled = Sample(options);
  LoadResults results = generator.Finish();

  std::vector<std::int64_t> complete = results.completeNs;
  std::sort(complete.begin(), complete.end());
  const std::int64_t lastAnswer = *std::max_element(results.readyNs.begin(), results.readyNs.end());
  Json json;
  json.Text("mode", "login").Text("target", options.label).Int("clients", options.login);
  json.Int("connect_window", options.connectWindow);
  json.Real("all_answered_s", Seconds(lastAnswer), 3);
  json.Real("all_lists_complete_s", Seconds(complete.back()), 3);
  json.Real("median_list_complete_s", Seconds(complete[complete.size() / 2]), 3);
  json.Int("full_answers", static_cast<long long>(results.fullAnswers));
  json.Int("list_packets", static_cast<long long>(results.otherPackets[37]));
  json.Int("afs_packets", static_cast<long long>(results.otherPackets[45]));
  json.Int("bytes_received", static_cast<long long>(results.bytesReceived));
  json.Int("malformed", static_cast<long long>(results.malformed));
  if (options.serverPid != 0) {
    if (serverBefore && serverAtEnd && serverSettled) {
      json.Real("server_cpu_s", serverAtEnd->cpuSeconds - serverBefore->cpuSeconds, 2);
      json.Int("server_rss_before_kb", serverBefore->rssKb);
      json.Int("server_rss_kb", serverSettled->rssKb);
      json.Int("server_peak_rss_kb", serverSettled->peakRssKb);
    } else {
      json.Null("server_cpu_s").Null("server_rss_kb");
    }
  }
  json.Real("bench_cpu_s", ownCpu, 2);
  std::cout << json.Done() << std::endl;
  return results.malformed > 0 ? kFaults : kOk;
}

}  // namespace
}  // namespace orv::bench

int main(int argc, char** argv) {
  using namespace orv::bench;
  auto parsed = ParseOptions(argc, argv);
  if (const auto* end = std::get_if<orv::CommandLineEnd>(&parsed)) {
    std::cout << end->out;
    std::cerr << end->err;
    return end->status;
  }
  const Options* options = std::get_if<Options>(&parsed);
  std::optional<orv::WireCodec> codec = orv::WireCodec::BuiltIn();
  if (!options->settings.empty()) {
    std::string error;
    codec = orv::client::CodecFromSettings(options->settings, nullptr, &error);
    if (!codec) {
      std::cerr << "orvchat-bench: " << error << "\n";
      return kCannotRun;
    }
  }
  return options->login > 0 ? RunLogin(*options, *codec) : RunLoad(*options, *codec);
}
