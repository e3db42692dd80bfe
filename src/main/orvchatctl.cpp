// orvchatctl: sends one operator command to a running headless server through its control
// socket and prints the answer, or follows the server's events as they happen. A user is
// named by the MAC that "orvchatctl users" prints, never by row. The commands are read by
// the control channel's one table (control_protocol.h), here as on the server.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/control_client.h"
#include "app/control_protocol.h"
#include "cli/cli_convention.h"
#include "console/version.h"

#ifndef ORV_SERVICE_WORKDIR
#define ORV_SERVICE_WORKDIR "/var/lib/orvchat"
#endif
// The user the installed service runs as: its socket belongs to that user, and root and the
// members of its group use it.
#ifndef ORV_SERVICE_USER
#define ORV_SERVICE_USER "orvchat"
#endif

namespace {

namespace fs = std::filesystem;

// The socket to use: the one given, the working folder's, the current folder's, or the
// installed service's. tried gets every path considered, in order, so that a failure can
// say where orvchatctl looked.
fs::path ChooseSocket(const std::string& socket, const std::string& workDir,
                      std::vector<fs::path>* tried) {
  if (!socket.empty()) {
    tried->push_back(socket);
  } else if (!workDir.empty()) {
    tried->push_back(fs::path(workDir) / orv::kControlSocketName);
  } else {
    std::error_code ec;
    fs::path here = fs::current_path(ec) / orv::kControlSocketName;
    if (ec) here = fs::path(".") / orv::kControlSocketName;
    tried->push_back(here);
    if (!fs::exists(fs::symlink_status(here, ec))) {
      tried->push_back(fs::path(ORV_SERVICE_WORKDIR) / orv::kControlSocketName);
    }
  }
  return tried->back();
}

}  // namespace

int main(int argc, char** argv) {
  std::string socket;
  std::string workDir;
  double timeoutSeconds = 10;
  std::string command;

  CLI::App app(
      "Sends one operator command to a running orvchatserver (started headless, as "
      "the service is) and prints its answer, or follows what it does.",
      "orvchatctl");
  app.add_option("-s,--socket", socket, "the server's control socket")->type_name("PATH");
  app.add_option("-C,--workdir", workDir,
                 std::string("the server's working folder: its ") + orv::kControlSocketName +
                     " (default: the current folder's when there is one, else the "
                     "service's, " ORV_SERVICE_WORKDIR ")")
      ->type_name("DIR");
  app.add_option("-t,--timeout", timeoutSeconds,
                 "seconds to wait for the answer (default 10; follow waits as long as it runs)")
      ->type_name("SECONDS")
      ->check(CLI::Range(0.1, 3600.0));
  app.add_option("command", command, "the command (see below)")->required()->type_name("COMMAND");
  // Everything after the command is its arguments, dashes and all ("send -- hi" is not
  // needed).
  app.prefix_command();
  app.footer(orv::ControlHelpText() +
             "\nExit status: 0 done, 1 the server refused (and said why), 2 usage error (also a "
             "row\nnumber where a MAC belongs), 3 no server answers on the socket (or it may not "
             "be used,\nor it is another user's than root's, yours or the service's), 4 no whole "
             "answer in time.\nfollow ends with 0 when the server stops, 1 when it dropped a "
             "follower that fell behind,\n4 when the connection ended otherwise.");

  if (auto end = orv::ParseCommandLine(app, argc, argv, orv::ProgramVersion(),
                                       "orvchatctl [OPTIONS] COMMAND [ARGS...]")) {
    std::fputs(end->out.c_str(), stdout);
    std::fputs(end->err.c_str(), stderr);
    return end->status;
  }
  std::string error;
  const auto request = orv::ControlRequestFor(command, app.remaining(), &error);
  if (!request) {
    std::fprintf(stderr,
                 "orvchatctl: %s\nUsage: orvchatctl [OPTIONS] COMMAND [ARGS...]; see --help\n",
                 orv::ShownText(error).c_str());
    return orv::kControlUsage;
  }

  const orv::ControlRequest::Kind kind = orv::ReadControlRequest(*request).kind;
  if (kind == orv::ControlRequest::Kind::kHelp) {
    std::printf("%s\n", orv::ControlHelpText().c_str());
    return orv::kControlOk;
  }

  // Everything shown is escaped: paths come from folders anybody may have named, answers from
  // whatever answered.
  auto show = [](const orv::ControlAnswer::Line& line) {
    std::FILE* out = line.toStdout ? stdout : stderr;
    std::fprintf(out, "%s%s\n",
                 line.toStdout ? "" : "orvchatctl: ", orv::ShownText(line.text).c_str());
  };
  std::vector<fs::path> tried;
  const fs::path path = ChooseSocket(socket, workDir, &tried);
  orv::ControlReply reply;
  if (kind == orv::ControlRequest::Kind::kFollow) {
    // Each line as it comes, also into a pipe.
    reply = orv::FollowServer(
        path, *request,
        [&show](const orv::ControlAnswer::Line& line) {
          show(line);
          std::fflush(line.toStdout ? stdout : stderr);
        },
        ORV_SERVICE_USER);
  } else {
    reply = orv::AskServer(
        path, *request, std::chrono::milliseconds(static_cast<long long>(timeoutSeconds * 1000.0)),
        ORV_SERVICE_USER);
  }
  if (reply.status != orv::kControlOk) {
    std::fprintf(stderr, "orvchatctl: %s\n", orv::ShownText(reply.why).c_str());
    if (reply.nobodyThere) {
      std::string places;
      for (std::size_t i = 0; i < tried.size(); ++i) {
        if (i > 0) places += i + 1 == tried.size() ? " and " : ", ";
        places += orv::ShownText(tried[i].string());
      }
      std::fprintf(stderr,
                   "orvchatctl: looked for the server's control socket at %s.\n"
                   "orvchatctl: a server in another working folder has its socket there: give "
                   "that folder with -C DIR (or the path of its --control with --socket "
                   "PATH); a server with a window opens none.\n",
                   places.c_str());
    }
    return reply.status;
  }
  for (const auto& line : reply.answer.lines)
    show(line);
  return reply.answer.status;
}
