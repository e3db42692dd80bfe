#include "app/host_commands.h"

#include <utility>

namespace orv {

void HostCommands::Execute(OperatorCommand command, OutcomeHandler done) {
  if (host_ == nullptr) {
    if (done) done(Outcome{false, false, {"The server is not running."}, {}, {}, {}});
    return;
  }
  host_->Execute(std::move(command), std::move(done));
}

void HostCommands::Subscribe(std::shared_ptr<EventSubscriber> subscriber) {
  if (host_) host_->Subscribe(std::move(subscriber));
}

void HostCommands::Shutdown() {
  if (host_) host_->Shutdown();
}

}  // namespace orv
