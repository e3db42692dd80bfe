// What a front-end asks of the engine: the operator's commands. Every front-end (the
// window, the headless console) goes through this; HostCommands hands each call over to
// the engine thread, test fakes record them. No implementation touches engine state
// outside the engine thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "server/chat_server.h"
#include "server/operator_view.h"

namespace orv {

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
};

}  // namespace orv
