// What the operator window asks of the engine. The window never touches engine state: each
// call hands a command over to the engine thread (or, in tests, to a fake that records it).
#pragma once

#include <string>

#include "server/chat_server.h"

namespace orv {

class EngineCommands {
 public:
  virtual ~EngineCommands() = default;

  // Broadcasts text (code-page bytes, already trimmed and at least 2 bytes long) as a
  // server message.
  virtual void Send(std::string text) = 0;
  // Reports the user count and rebuilds the user list.
  virtual void Refresh() = 0;
  // A context-menu command on row of the user list as the window last showed it; afsValue
  // is used by RowCommand::kSetAfs only.
  virtual void RunRowCommand(RowCommand command, int row, int afsValue) = 0;
  // Sends the close message, lets the output drain and stops the engine. Blocks; a second
  // call does nothing.
  virtual void Shutdown() = 0;
};

}  // namespace orv
