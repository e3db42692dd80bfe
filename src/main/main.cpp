// orvchatserver: reads the command line, checks the working folder, then runs the operator
// window when there is a usable display (and the window was built), else the headless
// console with its control socket.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/console_setup.h"
#include "app/control_protocol.h"
#include "app/control_server.h"
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
#include "gui/startup_error_box.h"
#endif
#if defined(ORV_WITH_WIN32_WINDOW)
#include "win32/run_win32_window.h"
#endif
#if defined(ORV_WITH_WEB)
#include "web/web_console.h"
#include "web/web_password.h"
#endif

namespace {

// Exit statuses beside 0 and the usage error (2).
constexpr int kExitUnusableSettings = 1;
constexpr int kExitCannotListen = 3;

// Set from the signal handler (engine thread), /exit (stdin thread) or the control
// socket's stop (its thread); main waits for it.
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

// --check-config: every problem, then a summary line; 0 when the server would start.
int CheckConfig(const orv::StartupCheck& check) {
  int errors = 0;
  int warnings = 0;
  for (const orv::SettingsProblem& problem : check.problems) {
    std::printf("%s: %s\n", problem.error ? "error" : "warning", problem.text.c_str());
    ++(problem.error ? errors : warnings);
  }
  if (errors > 0) {
    std::printf("%s: %d %s, %d %s; the server would not start\n", check.workDir.string().c_str(),
                errors, errors == 1 ? "error" : "errors", warnings,
                warnings == 1 ? "warning" : "warnings");
    return kExitUnusableSettings;
  }
  std::printf("%s: the settings are usable (%d %s)\n", check.workDir.string().c_str(), warnings,
              warnings == 1 ? "warning" : "warnings");
  return 0;
}

// --set-web-password: the hash of the password on stdin into the working folder.
int SetWebPassword(const orv::AppOptions& options) {
#if defined(ORV_WITH_WEB)
  std::string error;
  const std::optional<std::string> password = orv::ReadNewPassword(&error);
  if (!password || !orv::SetWebPassword(options.workDir, *password, &error)) {
    std::fprintf(stderr, "orvchatserver: %s\n", error.c_str());
    return kExitUnusableSettings;
  }
  std::printf("The web console's password is set (%s); it takes effect at the next login.\n",
              (options.workDir / orv::kWebPasswordFileName).string().c_str());
  return 0;
#else
  (void)options;
  std::fprintf(stderr, "orvchatserver: this build has no web console\n");
  return 2;
#endif
}

int RunHeadless(const orv::AppOptions& options, const orv::WireCodec& codec) {
  ExitRequest exitRequest;
  orv::ConsoleSetup consoleSetup([&exitRequest] { exitRequest.Request(); });
  orv::HostCommands commands;
  orv::EngineOptions engineOptions =
      orv::MakeEngineOptions(options, codec, std::make_shared<orv::HeadlessView>(stdout));
#if defined(ORV_WITH_WEB)
  // The web console follows the engine from the start, so its page shows the banner too.
  std::unique_ptr<orv::WebConsole> web;
  const orv::WebConsoleSettings webSettings = orv::ReadWebConsoleSettings(options.workDir);
  if (!webSettings.address.empty()) {
    web = std::make_unique<orv::WebConsole>(commands, options.workDir, webSettings);
    engineOptions.subscribers.push_back(web->Subscriber());
  }
#endif
  orv::EngineHost host(std::move(engineOptions));

  host.SetSignalHandler([&exitRequest] { exitRequest.Request(); });
  host.Start();
  commands.Attach(host);

  // Without a listener the server serves nobody: a supervisor should hear of it.
  auto status = std::make_shared<std::promise<orv::ServerStatus>>();
  commands.Execute(orv::command::Status{},
                   [status](orv::Outcome now) { status->set_value(now.status); });
  auto answer = status->get_future();
  if (answer.wait_for(std::chrono::seconds(10)) == std::future_status::ready) {
    const orv::ServerStatus started = answer.get();
    if (!started.listening) {
      std::fprintf(stderr, "orvchatserver: cannot listen on %s:%d: %s\n",
                   started.address.empty() ? "0.0.0.0" : started.address.c_str(), started.port,
                   started.notListeningReason.c_str());
      host.Shutdown();
      return kExitCannotListen;
    }
  }

  orv::ControlServer control(commands, [&exitRequest] { exitRequest.Request(); });
#if defined(_WIN32)
  // orvchatctl is for the Linux service; the Windows build has no control socket.
  const bool controlWanted = false;
#else
  const bool controlWanted = options.controlSocket != "none";
#endif
  if (controlWanted) {
    const std::filesystem::path path = options.controlSocket.empty()
                                           ? options.workDir / orv::kControlSocketName
                                           : std::filesystem::path(options.controlSocket);
    std::string error;
    bool opened = false;
    try {
      opened = control.Start(path, &error);
    } catch (const std::exception& failure) {
      // With no descriptor left (clients may take them all while the server starts), the
      // socket's own event loop cannot be made: the server serves on without it.
      error = "cannot open the control socket " + path.string() + ": " + failure.what();
    }
    if (!opened) {
      std::fprintf(stderr, "orvchatserver: %s; orvchatctl cannot reach this server\n",
                   error.c_str());
    }
  }

#if defined(ORV_WITH_WEB)
  if (web) {
    std::string error;
    if (!web->Start([&host](std::shared_ptr<orv::EventSubscriber> queue) { host.Subscribe(queue); },
                    &error)) {
      std::fprintf(stderr, "orvchatserver: %s; the server runs without it\n", error.c_str());
      commands.Execute(orv::command::Note{"The server runs without its web console: " + error});
      web.reset();
    }
  }
#endif

  orv::HeadlessConsole console(commands, stdout, [&exitRequest] { exitRequest.Request(); });
  console.Start();
  exitRequest.Wait();
  console.Stop();
  // The engine stops first, so that followers on the control socket see the close message
  // and the stop line before their stream ends.
  host.Shutdown();
#if defined(ORV_WITH_WEB)
  if (web) web->Stop();
#endif
  control.Stop();
  consoleSetup.Stopped();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything that takes time: a stop or reload signal that arrives while the server
  // starts waits for the engine (which takes it once it runs) instead of killing the
  // process. The engine options let them in again (app/engine_setup.cpp).
  orv::HoldStopSignals();
  const std::vector<std::string> args = orv::CommandLineArguments(argc, argv);
  orv::ParsedOptions parsed = orv::ParseOptions(args);
  if (parsed.exitCode) {
    std::fputs(parsed.out.c_str(), stdout);
    std::fputs(parsed.err.c_str(), stderr);
    return *parsed.exitCode;
  }

  if (parsed.options.setWebPassword) return SetWebPassword(parsed.options);
  const orv::StartupCheck check = orv::CheckStartup(parsed.options.workDir);
  if (parsed.options.checkConfig) return CheckConfig(check);
  if (!check.codec) {
    // No engine will take them: a stop signal ends the program as before, even while a
    // message box waits.
    orv::ReleaseStopSignals();
    std::string errors;
    for (const orv::SettingsProblem& problem : check.problems) {
      if (!problem.error) continue;
      std::fprintf(stderr, "orvchatserver: %s\n", problem.text.c_str());
      errors += (errors.empty() ? "" : "\n") + problem.text;
    }
#if defined(ORV_WITH_GUI)
    // Started from a desktop, nobody reads stderr: where the window would have opened,
    // a message box says it.
    if (!parsed.options.headless && HasDisplay() && orv::DisplayProblem().empty()) {
      orv::ShowStartupErrors(errors);
    }
#endif
#if defined(ORV_WITH_WIN32_WINDOW)
    // Started from Explorer, the console is gone before anyone could read it.
    if (!parsed.options.headless) orv::ShowStartupError(errors);
#endif
    return kExitUnusableSettings;
  }
  for (const orv::SettingsProblem& problem : check.problems) {
    if (problem.atStart) std::fprintf(stderr, "orvchatserver: warning: %s\n", problem.text.c_str());
  }
  orv::AppOptions options = parsed.options;
  options.workDir = check.workDir;
  orv::IgnoreBrokenPipe();
  orv::RaiseOpenFileLimit();

  try {
#if defined(ORV_WITH_GUI)
    if (!options.headless && HasDisplay()) {
      const std::string problem = orv::DisplayProblem();
      if (problem.empty()) return orv::RunOperatorWindow(options, *check.codec);
      std::fprintf(stderr, "orvchatserver: no usable display (%s); running headless\n",
                   problem.c_str());
    }
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
