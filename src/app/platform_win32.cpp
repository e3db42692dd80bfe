// The platform calls of platform.h on Windows.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <string>
#include <thread>

#include "app/platform.h"

namespace orv {

namespace {

enum class InputKind { kConsole, kPipe, kOther };

InputKind KindOf(HANDLE input) {
  DWORD mode = 0;
  if (GetConsoleMode(input, &mode)) return InputKind::kConsole;
  if (GetFileType(input) != FILE_TYPE_PIPE) return InputKind::kOther;
  // A pipe that cannot be looked into (some emulations of Windows lack it) is read as a
  // file is: blocking.
  DWORD available = 0;
  if (!PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr) &&
      GetLastError() != ERROR_BROKEN_PIPE)
    return InputKind::kOther;
  return InputKind::kPipe;
}

std::string Utf8FromWide(const wchar_t* text, int length) {
  if (length <= 0) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
  return out;
}

// A console gives whole lines, typed in any script: read as UTF-16 and handed on as UTF-8,
// whatever the console's code page.
StdinRead ReadConsoleChunk(HANDLE input, std::string& out, std::chrono::milliseconds timeout) {
  if (WaitForSingleObject(input, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0)
    return StdinRead::kTimeout;
  // The console also signals mouse, focus and key-up events; only a key press starts a
  // line. Anything else is taken out of the way.
  INPUT_RECORD records[64];
  DWORD count = 0;
  if (!PeekConsoleInputW(input, records, 64, &count)) return StdinRead::kEnd;
  bool keyPressed = false;
  for (DWORD i = 0; i < count && !keyPressed; ++i) {
    keyPressed = records[i].EventType == KEY_EVENT && records[i].Event.KeyEvent.bKeyDown &&
                 records[i].Event.KeyEvent.uChar.UnicodeChar != 0;
  }
  if (!keyPressed) {
    ReadConsoleInputW(input, records, count, &count);
    return StdinRead::kTimeout;
  }
  wchar_t buffer[2048];
  DWORD read = 0;
  if (!ReadConsoleW(input, buffer, 2048, &read, nullptr)) {
    // Ctrl+C aborts the read; the stop it asks for comes through the console handler.
    return GetLastError() == ERROR_OPERATION_ABORTED ? StdinRead::kTimeout : StdinRead::kEnd;
  }
  if (read == 0) return StdinRead::kTimeout;
  // Ctrl+Z at the start of a line is the console's end of input.
  if (buffer[0] == L'\x1A') return StdinRead::kEnd;
  out += Utf8FromWide(buffer, static_cast<int>(read));
  return StdinRead::kData;
}

// A pipe has no wait with a timeout of its own: look at what it holds, a few times a
// timeout, and read only what is there.
StdinRead ReadPipeChunk(HANDLE input, std::string& out, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  DWORD available = 0;
  for (;;) {
    if (!PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr)) {
      return StdinRead::kEnd;  // the writer closed its end
    }
    if (available > 0) break;
    if (std::chrono::steady_clock::now() >= deadline) return StdinRead::kTimeout;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  char buffer[4096];
  DWORD read = 0;
  const DWORD wanted = available < sizeof buffer ? available : DWORD{sizeof buffer};
  if (!ReadFile(input, buffer, wanted, &read, nullptr) || read == 0) return StdinRead::kEnd;
  out.append(buffer, read);
  return StdinRead::kData;
}

}  // namespace

std::vector<std::string> CommandLineArguments(int, char**) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 1; wide != nullptr && i < count; ++i)
    arguments.push_back(Utf8FromWide(wide[i], lstrlenW(wide[i])));
  if (wide != nullptr) LocalFree(wide);
  return arguments;
}

void IgnoreBrokenPipe() {
  // Windows reports a write to a closed pipe or socket as an error; nothing to do.
}

// Ctrl+C and the console's close reach the server through ConsoleSetup's handler, which
// only asks for the stop; there is no signal to hold or ignore.
void HoldStopSignals() {}
void ReleaseStopSignals() {}
void IgnoreStopSignals() {}

// Windows sets no per-process limit on sockets.
void RaiseOpenFileLimit() {}

bool StdinReadTimesOut() {
  // A console read that has begun (a key was pressed) waits for Enter; files do not wait.
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return true;
  switch (KindOf(input)) {
    case InputKind::kConsole:
      return false;
    case InputKind::kPipe:
      return true;
    case InputKind::kOther:
      return GetFileType(input) != FILE_TYPE_PIPE;
  }
  return false;
}

StdinRead ReadStdinChunk(std::string& out, std::chrono::milliseconds timeout) {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return StdinRead::kEnd;
  switch (KindOf(input)) {
    case InputKind::kConsole:
      return ReadConsoleChunk(input, out, timeout);
    case InputKind::kPipe:
      return ReadPipeChunk(input, out, timeout);
    case InputKind::kOther:
      break;
  }
  // A file (or NUL) never keeps a read waiting; a pipe that cannot be looked into may.
  char buffer[4096];
  DWORD read = 0;
  if (!ReadFile(input, buffer, sizeof buffer, &read, nullptr) || read == 0) return StdinRead::kEnd;
  out.append(buffer, read);
  return StdinRead::kData;
}

std::string DisplayProblem() {
  // An interactive session always has its desktop; a service has none, and runs headless.
  return {};
}

void ReleaseFreeHeapMemory() {
  // The Windows heap returns what it can by itself.
}

std::filesystem::path DefaultWorkDir() {
  // Long paths need a longer buffer than MAX_PATH; grow until the name fits.
  std::wstring path(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 6; ++attempt) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return ".";
    if (length < path.size()) {
      path.resize(length);
      return std::filesystem::path(path).parent_path();
    }
    path.resize(path.size() * 2);
  }
  return ".";
}

const char* DefaultWorkDirName() {
  return "the program's folder";
}

}  // namespace orv
