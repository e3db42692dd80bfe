// Terminals on POSIX systems need nothing: see console_setup.h.
#include <utility>

#include "app/console_setup.h"

namespace orv {

ConsoleSetup::ConsoleSetup(std::function<void()> stop) {
  (void)std::move(stop);
}

ConsoleSetup::~ConsoleSetup() = default;

void ConsoleSetup::Stopped() {}

}  // namespace orv
