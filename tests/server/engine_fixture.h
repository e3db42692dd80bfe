// A fixture for in-process engine tests: the fakes of support/engine_fakes.h, a fixed clock
// and a temporary working folder with settings, command and language files.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "protocol/text_fields.h"
#include "server/chat_server.h"
#include "support/engine_fakes.h"
#include "support/fixed_clock.h"

namespace orv::testing {

// A decoded packet as the tests read it.
struct Seen {
  std::string ip, mac, name, subject;
  std::int32_t type = 0;
  std::string body;
};

class EngineTest : public ::testing::Test {
 protected:
  EngineTest();
  ~EngineTest() override;

  // Writes (replaces) a file under the working folder.
  void WriteFile(const std::string& relative, const std::string& content);
  std::string ReadFile(const std::string& relative) const;
  void SetMessage(const std::string& key, const std::string& value);
  // Settings file with every key; messages given by SetMessage are kept.
  void WriteSettings();

  // Builds the engine and runs its start-up.
  void Start();
  std::shared_ptr<FakeConnection> Connect(const std::string& peer = "192.168.1.20");
  // An encoded client packet.
  std::string Packet(const std::string& mac, const std::string& name, std::int32_t type,
                     const std::string& body, const std::string& ip = "192.168.1.20") const;
  void Receive(const std::shared_ptr<FakeConnection>& connection, const std::string& bytes);
  // Runs what the engine left for the end of the loop turn (the list refresh after accepts
  // and closes).
  void Settle() { scheduler_.Advance(0); }
  // Connects and announces a user with a type-4 status (no list answer).
  std::shared_ptr<FakeConnection> Login(const std::string& mac, const std::string& name,
                                        const std::string& ip = "192.168.1.20");
  Seen Decode(const std::string& bytes) const;

  // Operator commands, as a front-end gives them; a refused one's reason joins refusals_.
  // The row commands name the user by the MAC that row holds now (none out of range).
  bool Run(const OperatorCommand& command);
  std::string MacAt(int row) const;
  bool Kick(int row) { return Run(command::Kick{MacAt(row)}); }
  bool Block(int row, BlockState by) { return Run(command::Block{MacAt(row), by}); }
  bool Unblock(int row) { return Run(command::Unblock{MacAt(row)}); }
  bool SetAfs(int row, std::int32_t value) { return Run(command::SetAfs{MacAt(row), value}); }
  void Send(const std::string& text) { Run(command::Send{text}); }
  void Refresh() { Run(command::Refresh{}); }
  bool Reload() { return Run(command::Reload{}); }
  std::vector<Seen> DecodedSent(const FakeConnection& connection) const;
  void ClearOutputs();

  std::filesystem::path workDir_;
  std::map<std::string, std::string> messages_;
  std::string serverIp_ = "10.9.8.7";
  FixedClock clock_{MakeTime(2026, 12, 6, 13, 5, 9)};
  FakeScheduler scheduler_;
  FakeNetwork network_;
  RecordingView view_;
  std::vector<std::string> refusals_;
  Outcome last_;  // of the last command
  std::unique_ptr<ChatServer> server_;
  std::vector<std::shared_ptr<FakeConnection>> connections_;
  std::int32_t nextKey_ = 100;
};

}  // namespace orv::testing
