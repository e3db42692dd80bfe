// The Windows console: UTF-8 output and the console's control events (console_setup.h).
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>

#include "app/console_setup.h"

namespace orv {

namespace {

// The system calls the handler with the event alone, so what it needs lives here, for the
// one ConsoleSetup there is.
struct StopState {
  std::mutex mutex;
  std::condition_variable changed;
  std::function<void()> stop;
  bool stopped = false;
  UINT previousCodePage = 0;
};

StopState& State() {
  static StopState state;
  return state;
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  StopState& state = State();
  std::function<void()> stop;
  {
    std::lock_guard lock(state.mutex);
    stop = state.stop;
  }
  if (!stop) return FALSE;
  stop();
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: {
      // The process ends as soon as this returns (or at the system's limit, about five
      // seconds for a closed console): hold it until the clients have had their close
      // message and the log its last lines.
      std::unique_lock lock(state.mutex);
      state.changed.wait_for(lock, std::chrono::seconds(10), [&state] { return state.stopped; });
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

ConsoleSetup::ConsoleSetup(std::function<void()> stop) {
  StopState& state = State();
  {
    std::lock_guard lock(state.mutex);
    state.stop = std::move(stop);
    state.stopped = false;
    state.previousCodePage = GetConsoleOutputCP();  // 0 without a console
  }
  // Console lines are UTF-8; a console with the OEM code page would show Cyrillic as junk.
  // (Output to a pipe or a file is bytes either way.)
  if (state.previousCodePage != 0) SetConsoleOutputCP(CP_UTF8);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

ConsoleSetup::~ConsoleSetup() {
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  StopState& state = State();
  std::lock_guard lock(state.mutex);
  state.stop = nullptr;
  if (state.previousCodePage != 0) SetConsoleOutputCP(state.previousCodePage);
}

void ConsoleSetup::Stopped() {
  StopState& state = State();
  {
    std::lock_guard lock(state.mutex);
    state.stopped = true;
  }
  state.changed.notify_all();
}

}  // namespace orv
