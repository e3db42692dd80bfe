// The command line of orvchatserver: which face to show, where the working folder is, how
// much output one client may have queued, where the control socket lies, and whether to
// only check the working folder or set the web console's password.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/platform.h"
#include "net/engine_host.h"

namespace orv {

struct AppOptions {
  std::filesystem::path workDir = DefaultWorkDir();  // every file is resolved against it
  bool headless = false;  // console on stdin/stdout even when a display exists
  std::size_t writeLimitBytes = kDefaultWriteLimitBytes;  // per-connection write queue bound
  bool checkConfig = false;  // read what the start reads, list the problems, end
  // Store the hash of the web console's password read from stdin in the working folder, end.
  bool setWebPassword = false;
  // The control socket orvchatctl talks to: empty for the working folder's, "none" for
  // none at all.
  std::string controlSocket;
};

inline constexpr std::size_t kMinWriteLimitBytes = 4096;

struct ParsedOptions {
  AppOptions options;
  // Set when the program should end at once (help, version, bad options) with this code.
  std::optional<int> exitCode;
  std::string out;  // for stdout (help, version)
  std::string err;  // for stderr (what was wrong, and where to look)
};

// args excludes the program name.
ParsedOptions ParseOptions(const std::vector<std::string>& args);

}  // namespace orv
