#include "win32/run_win32_window.h"

#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <shlobj.h>

#include <exception>
#include <utility>

#include "app/console_setup.h"
#include "app/engine_setup.h"
#include "app/host_commands.h"
#include "console/version.h"
#include "net/engine_host.h"
#include "win32/operator_window.h"
#include "win32/wide_text.h"
#include "win32/win32_operator_view.h"

namespace orv {

namespace {

// The window's size, position and splitter belong to the person at the desktop, not to a
// working folder: %APPDATA%\orvchatserver\window.ini.
std::wstring WindowStateFile() {
  wchar_t folder[MAX_PATH] = L"";
  if (SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK)
    return {};
  return std::wstring(folder) + L"\\orvchatserver\\window.ini";
}

// Started from Explorer, the program has a console of its own that nobody needs: it goes.
// Started from a console, the console stays and its Ctrl+C stops the server.
void ReleaseOwnConsole() {
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) == 1) FreeConsole();
}

}  // namespace

void ShowStartupError(const std::string& utf8Text) {
  MessageBoxW(nullptr, WideFromUtf8(utf8Text).c_str(), WideFromUtf8(kProductName).c_str(),
              MB_OK | MB_ICONERROR);
}

int RunWin32Window(const AppOptions& options, WireCodec codec) {
  ReleaseOwnConsole();
  INITCOMMONCONTROLSEX controls{sizeof controls,
                                ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  // Destroyed in reverse order: the engine thread stops before the view and the window it
  // reports to go away.
  HostCommands commands;
  OperatorWindow window(commands, WindowStateFile());
  if (!window.Create()) {
    ShowStartupError("The operator window could not be created.");
    return 1;
  }
  const HWND handle = window.Handle();
  auto view = std::make_shared<Win32OperatorView>(handle);
  window.OnEngineThread([view](EngineReport report) { view->Post(std::move(report)); });
  // Ctrl+C in the console the server was started from, and the stop signals, arrive on
  // other threads, which must not wait for the engine: the stop runs on the window's.
  ConsoleSetup console([handle] { PostMessageW(handle, kStopMessage, 0, 0); });
  EngineHost host(MakeEngineOptions(options, std::move(codec), view));
  commands.Attach(host);
  host.SetSignalHandler([handle] { PostMessageW(handle, kStopMessage, 0, 0); });

  window.Show();
  try {
    host.Start();
  } catch (const std::exception& error) {
    MessageBoxW(handle, WideFromUtf8(error.what()).c_str(), WideFromUtf8(kProductName).c_str(),
                MB_OK | MB_ICONERROR);
    return 1;
  }
  const int code = window.Run();
  window.RequestExit();
  console.Stopped();
  return code;
}

}  // namespace orv
