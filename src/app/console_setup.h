// The console a server runs in, made to behave on Windows as a terminal does elsewhere:
// output in UTF-8, and Ctrl+C, Ctrl+Break, closing the console window, log-off and
// shut-down all lead to the orderly stop. Elsewhere the terminal already speaks UTF-8 and
// the stop signals reach the engine through EngineHost: there it does nothing.
#pragma once

#include <functional>

namespace orv {

class ConsoleSetup {
 public:
  // stop is called on a thread of the system's and must only ask for the stop; whoever
  // carries it out calls Stopped when done. One instance at a time.
  explicit ConsoleSetup(std::function<void()> stop);
  // Gives the console its code page back and stops listening for its events.
  ~ConsoleSetup();
  ConsoleSetup(const ConsoleSetup&) = delete;
  ConsoleSetup& operator=(const ConsoleSetup&) = delete;

  // The orderly stop is done: a console close or a shut-down waiting for it may go on.
  void Stopped();
};

}  // namespace orv
