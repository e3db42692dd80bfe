#include "app/host_commands.h"

#include <utility>

namespace orv {

void HostCommands::Send(std::string text) {
  if (host_) host_->Post([text = std::move(text)](ChatServer& server) { server.OnSend(text); });
}

void HostCommands::Refresh() {
  if (host_) host_->Post([](ChatServer& server) { server.OnRefresh(); });
}

void HostCommands::RunRowCommand(RowCommand command, int row, int afsValue,
                                 std::string expectedMac) {
  if (!host_) return;
  host_->Post([command, row, afsValue, mac = std::move(expectedMac)](ChatServer& server) {
    server.RunRowCommand(command, row, afsValue, mac);
  });
}

void HostCommands::UnblockRow(int row, std::string expectedMac) {
  if (!host_) return;
  host_->Post(
      [row, mac = std::move(expectedMac)](ChatServer& server) { server.UnblockRow(row, mac); });
}

void HostCommands::ListUsers(std::function<void(const std::vector<UserRow>&)> show) {
  if (!host_ || !show) return;
  host_->Post([show = std::move(show)](ChatServer& server) { show(server.Rows()); });
}

void HostCommands::Shutdown() {
  if (host_) host_->Shutdown();
}

}  // namespace orv
