// What a front-end asks of the engine: the operator's commands. Every front-end (the
// window, the headless console, the control socket) goes through this; HostCommands hands
// each call over to the engine thread, test fakes record them. No implementation touches
// engine state outside the engine thread.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "server/chat_server.h"
#include "server/operator_view.h"

namespace orv {

// How a command ended, for a front-end that waits for the answer (the control socket).
struct CommandOutcome {
  bool ok = true;
  // The console lines the command printed, or the engine's reason for refusing it
  // (code-page texts).
  std::vector<std::string> lines;
};
using OutcomeHandler = std::function<void(CommandOutcome)>;
// Picks a user among the rows of the user list: the row's index, or -1 for nobody.
using UserFinder = std::function<int(const std::vector<UserRow>& rows)>;

class EngineCommands {
 public:
  virtual ~EngineCommands() = default;

  // Broadcasts text (code-page bytes) as a server message; the engine trims it and sends
  // nothing shorter than 2 bytes.
  virtual void Send(std::string text) = 0;
  // Reports the user count and rebuilds the user list.
  virtual void Refresh() = 0;
  // A context-menu command on row of the user list as the front-end last showed it, for the
  // user with expectedMac (refused when the row holds somebody else by now; empty: not
  // checked); afsValue is used by RowCommand::kSetAfs only.
  virtual void RunRowCommand(RowCommand command, int row, int afsValue,
                             std::string expectedMac) = 0;
  // Lifts whatever block the user in row has.
  virtual void UnblockRow(int row, std::string expectedMac) = 0;
  // Calls show with the user rows as they are now, on the engine thread.
  virtual void ListUsers(std::function<void(const std::vector<UserRow>&)> show) = 0;
  // Sends the close message, lets the output drain and stops the engine. Blocks; a second
  // call does nothing.
  virtual void Shutdown() = 0;

  // Calls show with the server's status, on the engine thread.
  virtual void Status(std::function<void(const ServerStatus&)> show) { (void)show; }

  // The commands above with their outcome: done runs once, on the engine thread. The
  // defaults carry the command out and answer success without lines, for front-ends that
  // never wait for an answer.
  virtual void SendAnswered(std::string text, OutcomeHandler done) {
    Send(std::move(text));
    if (done) done({});
  }
  virtual void RefreshAnswered(OutcomeHandler done) {
    Refresh();
    if (done) done({});
  }
  // A row command for the user find picks among the rows as they are now, found and carried
  // out in one step, so that nobody can take the row in between (for front-ends that name
  // users by MAC, not by row). When find picks nobody (-1), nothing is done and done gets a
  // refusal without lines: find keeps its own account of why.
  virtual void RunUserCommandAnswered(RowCommand command, int afsValue, UserFinder find,
                                      OutcomeHandler done) {
    ListUsers([this, command, afsValue, find = std::move(find),
               done = std::move(done)](const std::vector<UserRow>& rows) {
      const int row = find ? find(rows) : -1;
      if (row < 0 || static_cast<std::size_t>(row) >= rows.size()) {
        if (done) done({false, {}});
        return;
      }
      // Checked against the MAC, should the list change before the command arrives.
      RunRowCommand(command, row, afsValue, rows[static_cast<std::size_t>(row)].mac);
      if (done) done({});
    });
  }
  // Lifts whatever block the user find picks has, as RunUserCommandAnswered finds the user.
  virtual void UnblockUserAnswered(UserFinder find, OutcomeHandler done) {
    ListUsers(
        [this, find = std::move(find), done = std::move(done)](const std::vector<UserRow>& rows) {
          const int row = find ? find(rows) : -1;
          if (row < 0 || static_cast<std::size_t>(row) >= rows.size()) {
            if (done) done({false, {}});
            return;
          }
          UnblockRow(row, rows[static_cast<std::size_t>(row)].mac);
          if (done) done({});
        });
  }
  // Reads the settings again (as SIGHUP does); the outcome says whether they were taken.
  virtual void Reload(OutcomeHandler done) {
    if (done) done({false, {"reloading is not offered here"}});
  }
};

}  // namespace orv
