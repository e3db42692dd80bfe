#include "app/host_commands.h"

#include <utility>

namespace orv {

void HostCommands::Send(std::string text) {
  if (host_) host_->Post([text = std::move(text)](ChatServer& server) { server.OnSend(text); });
}

void HostCommands::Refresh() {
  if (host_) host_->Post([](ChatServer& server) { server.OnRefresh(); });
}

void HostCommands::RunRowCommand(RowCommand command, int row, int afsValue) {
  if (!host_) return;
  host_->Post([command, row, afsValue](ChatServer& server) {
    server.RunRowCommand(command, row, afsValue);
  });
}

void HostCommands::UnblockRow(int row) {
  if (host_) host_->Post([row](ChatServer& server) { server.UnblockRow(row); });
}

void HostCommands::ListUsers(std::function<void(const std::vector<UserRow>&)> show) {
  if (!host_ || !show) return;
  host_->Post([show = std::move(show)](ChatServer& server) { show(server.Rows()); });
}

void HostCommands::Shutdown() {
  if (host_) host_->Shutdown();
}

}  // namespace orv
