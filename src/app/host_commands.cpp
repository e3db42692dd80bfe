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

void HostCommands::Status(std::function<void(const ServerStatus&)> show) {
  if (!host_ || !show) return;
  host_->Post([show = std::move(show)](ChatServer& server) { show(server.Status()); });
}

namespace {

// Runs command on the engine thread and answers with what it printed, or with its refusal.
void PostAnswered(EngineHost* host, OutcomeHandler done,
                  std::function<bool(ChatServer&, std::string*)> command) {
  if (host == nullptr) return;
  host->Post([done = std::move(done), command = std::move(command)](ChatServer& server) {
    std::string refusal;
    bool ok = false;
    CommandOutcome outcome;
    outcome.lines = server.CaptureConsole([&] { ok = command(server, &refusal); });
    outcome.ok = ok;
    if (!ok && !refusal.empty()) outcome.lines.push_back(refusal);
    if (done) done(std::move(outcome));
  });
}

}  // namespace

void HostCommands::SendAnswered(std::string text, OutcomeHandler done) {
  PostAnswered(host_, std::move(done), [text = std::move(text)](ChatServer& server, std::string*) {
    server.OnSend(text);
    return true;
  });
}

void HostCommands::RefreshAnswered(OutcomeHandler done) {
  PostAnswered(host_, std::move(done), [](ChatServer& server, std::string*) {
    server.OnRefresh();
    return true;
  });
}

namespace {

// The row find picks among the engine's rows now and the MAC it holds, or -1.
int FindUser(const ChatServer& server, const UserFinder& find, std::string* mac) {
  const std::vector<UserRow> rows = server.Rows();
  const int row = find ? find(rows) : -1;
  if (row < 0 || static_cast<std::size_t>(row) >= rows.size()) return -1;
  *mac = rows[static_cast<std::size_t>(row)].mac;
  return row;
}

}  // namespace

void HostCommands::RunUserCommandAnswered(RowCommand command, int afsValue, UserFinder find,
                                          OutcomeHandler done) {
  PostAnswered(
      host_, std::move(done),
      [command, afsValue, find = std::move(find)](ChatServer& server, std::string* refusal) {
        std::string mac;
        const int row = FindUser(server, find, &mac);
        return row >= 0 && server.RunRowCommand(command, row, afsValue, mac, refusal);
      });
}

void HostCommands::UnblockUserAnswered(UserFinder find, OutcomeHandler done) {
  PostAnswered(host_, std::move(done),
               [find = std::move(find)](ChatServer& server, std::string* refusal) {
                 std::string mac;
                 const int row = FindUser(server, find, &mac);
                 return row >= 0 && server.UnblockRow(row, mac, refusal);
               });
}

void HostCommands::Reload(OutcomeHandler done) {
  PostAnswered(host_, std::move(done),
               [](ChatServer& server, std::string*) { return server.Reload(); });
}

}  // namespace orv
