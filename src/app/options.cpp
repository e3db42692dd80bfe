#include "app/options.h"

#include "app/control_protocol.h"
#include "cli/cli_convention.h"
#include "console/version.h"

namespace orv {

ParsedOptions ParseOptions(const std::vector<std::string>& args) {
  ParsedOptions result;
  AppOptions& options = result.options;
  std::string workDir;  // empty: the default folder stays

  CLI::App app("Runs the chat server in its working folder (the one holding orvchatserver.cfg).",
               "orvchatserver");
  app.add_option("-C,--workdir", workDir,
                 std::string("working folder (default: ") + DefaultWorkDirName() + ")")
      ->type_name("DIR")
      ->check([](const std::string& dir) {
        return dir.empty() ? std::string("needs a folder, not an empty text") : std::string();
      });
  app.add_flag("--headless", options.headless,
               "no window: console lines on stdout, commands on stdin (also chosen when there "
               "is no usable display)");
  app.add_option("--write-limit", options.writeLimitBytes,
                 "output queued for one client before it is disconnected (default " +
                     std::to_string(kDefaultWriteLimitBytes) + ")")
      ->type_name("BYTES")
      ->check(CLI::Validator(
          [](const std::string& text) {
            return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos &&
                           text.size() < 14 && std::stoull(text) >= kMinWriteLimitBytes
                       ? std::string()
                       : "must be a whole number of bytes, at least " +
                             std::to_string(kMinWriteLimitBytes) + ", not '" + text + "'";
          },
          "", ""));
  app.add_flag("--check-config", options.checkConfig,
               "read everything the server reads at start (settings, alphabets, language, "
               "command file, lists), list every problem and exit: 0 when the server would "
               "start, 1 when not");
  app.add_flag("--set-web-password", options.setWebPassword,
               "read the web console's password from standard input (asked twice at a "
               "terminal), store only a salted argon2id hash of it in the working folder "
               "(orvchatserver_web.pwhash) and exit");
  app.add_option("--control", options.controlSocket,
                 std::string("control socket for orvchatctl (default: ") + kControlSocketName +
                     " in the working folder; \"none\" for no socket)")
      ->type_name("PATH");
  app.footer(
      "Exit status: 0 after an orderly stop, 1 when the working folder or its settings are "
      "unusable, 2 on a usage error, 3 when the server cannot listen (headless).\n"
      "Signals: SIGINT and SIGTERM stop the server in order; SIGHUP reloads the settings "
      "that can change while it runs.");

  if (auto end = ParseCommandLine(app, args, ProgramVersion(), "orvchatserver [OPTIONS]")) {
    result.exitCode = end->status;
    result.out = std::move(end->out);
    result.err = std::move(end->err);
    return result;
  }
  if (!workDir.empty()) options.workDir = PathFromUtf8(workDir);
  return result;
}

}  // namespace orv
