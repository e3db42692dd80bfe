// The command-line convention of every program of the project (the server, orvchatctl, the
// terminal client and the load generator): "--opt value", "--opt=value" and short forms,
// --help and --version print to stdout and end with status 0, and a usage error prints
// one short reason with the usage line and ends with status 2. Header-only, so the
// companion programs share it without linking the server's libraries.
#pragma once

#include <CLI/CLI.hpp>
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace orv {

inline constexpr int kUsageErrorStatus = 2;

struct CommandLineEnd {
  int status = 0;
  std::string out;  // for stdout (help, version)
  std::string err;  // for stderr (a usage error)
};

// Parses args (without the program name). Nothing when the program goes on; else how it
// ends. usageLine is the one-line synopsis, e.g. "orvchatserver [OPTIONS]".
inline std::optional<CommandLineEnd> ParseCommandLine(CLI::App& app, std::vector<std::string> args,
                                                      const std::string& version,
                                                      const std::string& usageLine) {
  app.set_help_flag("-h,--help", "print this help and exit");
  app.set_version_flag("--version", std::string(), "print the version and exit");
  // CLI11 takes the arguments last first.
  std::reverse(args.begin(), args.end());
  try {
    app.parse(args);
  } catch (const CLI::CallForHelp&) {
    return CommandLineEnd{0, app.help(), {}};
  } catch (const CLI::CallForAllHelp&) {
    return CommandLineEnd{0, app.help("", CLI::AppFormatMode::All), {}};
  } catch (const CLI::CallForVersion&) {
    return CommandLineEnd{0, app.get_name() + " " + version + "\n", {}};
  } catch (const CLI::ParseError& error) {
    return CommandLineEnd{
        kUsageErrorStatus,
        {},
        app.get_name() + ": " + error.what() + "\nUsage: " + usageLine + "; see --help\n"};
  }
  return std::nullopt;
}

// The same for main's argc and argv.
inline std::optional<CommandLineEnd> ParseCommandLine(CLI::App& app, int argc, char** argv,
                                                      const std::string& version,
                                                      const std::string& usageLine) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i)
    args.emplace_back(argv[i]);
  return ParseCommandLine(app, std::move(args), version, usageLine);
}

}  // namespace orv
