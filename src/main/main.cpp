// orvchatserver: reads the command line, checks the working folder, then runs the operator
// window when there is a display (and the window was built), else the headless console.
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "app/console_setup.h"
#include "app/engine_setup.h"
#include "app/headless_console.h"
#include "app/headless_view.h"
#include "app/host_commands.h"
#include "app/options.h"
#include "app/platform.h"
#include "app/startup_checks.h"
#include "net/engine_host.h"

#if defined(ORV_WITH_GUI)
#include "gui/run_operator_window.h"
#endif
#if defined(ORV_WITH_WIN32_WINDOW)
#include "win32/run_win32_window.h"
#endif

namespace {

// Set from the signal handler (engine thread) or /exit (stdin thread); main waits for it.
class ExitRequest {
 public:
  void Request() {
    {
      std::lock_guard lock(mutex_);
      requested_ = true;
    }
    changed_.notify_all();
  }
  void Wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return requested_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool requested_ = false;
};

[[maybe_unused]] bool HasDisplay() {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

int RunHeadless(const orv::AppOptions& options, const orv::WireCodec& codec) {
  ExitRequest exitRequest;
  orv::ConsoleSetup consoleSetup([&exitRequest] { exitRequest.Request(); });
  orv::HeadlessView view(stdout);
  orv::EngineHost host(orv::MakeEngineOptions(options, codec, &view));

  host.SetSignalHandler([&exitRequest] { exitRequest.Request(); });
  host.Start();

  orv::HostCommands commands(&host);
  orv::HeadlessConsole console(commands, stdout, [&exitRequest] { exitRequest.Request(); });
  console.Start();
  exitRequest.Wait();
  console.Stop();
  host.Shutdown();
  consoleSetup.Stopped();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = orv::CommandLineArguments(argc, argv);
  orv::ParsedOptions parsed = orv::ParseOptions(args);
  if (parsed.exitCode) {
    std::fputs(parsed.out.c_str(), stdout);
    std::fputs(parsed.err.c_str(), stderr);
    return *parsed.exitCode;
  }

  const orv::StartupCheck check = orv::CheckStartup(parsed.options.workDir);
  if (!check.codec) {
    std::fprintf(stderr, "orvchatserver: %s\n", check.error.c_str());
#if defined(ORV_WITH_WIN32_WINDOW)
    // Started from Explorer, the console is gone before anyone could read it.
    if (!parsed.options.headless) orv::ShowStartupError(check.error);
#endif
    return 1;
  }
  orv::AppOptions options = parsed.options;
  options.workDir = check.workDir;
  orv::IgnoreBrokenPipe();

  try {
#if defined(ORV_WITH_GUI)
    if (!options.headless && HasDisplay()) return orv::RunOperatorWindow(options, *check.codec);
#endif
#if defined(ORV_WITH_WIN32_WINDOW)
    if (!options.headless) return orv::RunWin32Window(options, *check.codec);
#endif
    return RunHeadless(options, *check.codec);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "orvchatserver: %s\n", error.what());
    return 1;
  }
}
