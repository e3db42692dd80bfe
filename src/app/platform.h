// The few operating-system calls the front-end needs that the standard library lacks:
// everything POSIX- or Windows-specific lives behind these functions.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace orv {

// The program's arguments (without its name) in UTF-8. Windows hands main() the arguments
// in the system's code page, which cannot hold every folder name: there they are taken from
// the wide command line instead.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// A path from UTF-8 text (an argument). A path made from a plain std::string takes it in
// the system's code page on Windows.
inline std::filesystem::path PathFromUtf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

// Writes to a closed pipe or socket report an error instead of ending the process.
void IgnoreBrokenPipe();

// The stop and reload signals (SIGINT, SIGTERM, SIGHUP) wait, blocked, in the calling thread
// and in the threads it starts afterwards: called first thing, so that one arriving while the
// server starts can neither kill it nor be lost. ReleaseStopSignals lets them in again on the
// calling thread once the engine takes them (what came meanwhile arrives then);
// IgnoreStopSignals is for the end, once nothing takes them any more. Nothing where the
// system has no such signals.
void HoldStopSignals();
void ReleaseStopSignals();
void IgnoreStopSignals();

// Raises the soft limit on open descriptors to the hard one (every client is a descriptor;
// a soft limit of 1024 locks newcomers out after about a thousand). Nothing where there is
// no such limit.
void RaiseOpenFileLimit();

enum class StdinRead { kData, kTimeout, kEnd };

// Appends what standard input has (at most one chunk) to out, waiting at most timeout
// for it; kEnd at end of input or on an error.
StdinRead ReadStdinChunk(std::string& out, std::chrono::milliseconds timeout);
// false where ReadStdinChunk can only block (its thread cannot be joined at exit).
bool StdinReadTimesOut();

// Whether the display the environment names (WAYLAND_DISPLAY, DISPLAY) answers: the empty
// text when one does (or when the system has no such notion), else why not, in words. A
// window toolkit ends the program when it cannot open its display; this asks first.
std::string DisplayProblem();

// Hands heap memory that the allocator keeps free after a burst (a login storm) back to
// the system, where the allocator would otherwise hold it (glibc); elsewhere nothing.
void ReleaseFreeHeapMemory();

// The working folder when none is given: the current folder, and on Windows the folder
// holding the program, where an unpacked server keeps its files whatever folder a shortcut
// or a double-click starts it in. DefaultWorkDirName says which, for the usage text.
std::filesystem::path DefaultWorkDir();
const char* DefaultWorkDirName();

}  // namespace orv
