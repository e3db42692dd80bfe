// The operator's commands posted to a running engine: each call is queued on the engine
// thread in the order the calls were made.
#pragma once

#include "app/engine_commands.h"
#include "net/engine_host.h"

namespace orv {

class HostCommands final : public EngineCommands {
 public:
  // host may be given later (Attach) when it is made after the front-end; calls before
  // that are dropped.
  explicit HostCommands(EngineHost* host = nullptr) : host_(host) {}
  void Attach(EngineHost& host) { host_ = &host; }

  void Send(std::string text) override;
  void Refresh() override;
  void RunRowCommand(RowCommand command, int row, int afsValue, std::string expectedMac) override;
  void UnblockRow(int row, std::string expectedMac) override;
  void ListUsers(std::function<void(const std::vector<UserRow>&)> show) override;
  void Shutdown() override;

  void Status(std::function<void(const ServerStatus&)> show) override;
  void SendAnswered(std::string text, OutcomeHandler done) override;
  void RefreshAnswered(OutcomeHandler done) override;
  void RunUserCommandAnswered(RowCommand command, int afsValue, UserFinder find,
                              OutcomeHandler done) override;
  void UnblockUserAnswered(UserFinder find, OutcomeHandler done) override;
  void Reload(OutcomeHandler done) override;

 private:
  EngineHost* host_;
};

}  // namespace orv
