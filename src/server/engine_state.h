// Everything the engine holds, in one place: its surroundings, the settings, the console and
// the log, the users, the lists and files it reads, the live connections and what it keeps
// between events. The parts of the engine (the relay, the operator service, housekeeping)
// work on this one state; all of it lives on the engine thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "console/clock.h"
#include "console/console_output.h"
#include "console/language_table.h"
#include "console/log_file.h"
#include "files/tagged_file.h"
#include "moderation/afs_list.h"
#include "moderation/block_list.h"
#include "moderation/board_folder.h"
#include "moderation/settings.h"
#include "protocol/wire_codec.h"
#include "server/connection_list.h"
#include "server/engine_counters.h"
#include "server/event_hub.h"
#include "server/network.h"
#include "server/scheduler.h"
#include "users/server_packets.h"
#include "users/user_table.h"

namespace orv {

struct ServerEnvironment {
  std::filesystem::path workDir;  // every file is resolved against it
  const Clock* clock = nullptr;
  Scheduler* scheduler = nullptr;
  Network* network = nullptr;
  WireCodec codec = WireCodec::BuiltIn();
  std::function<std::string(const std::string&)> lookupMac;    // LookupMacAddress by default
  std::function<std::vector<std::string>()> machineAddresses;  // MachineAddresses by default
  std::string programVersion;  // GetVersionString of this build, e.g. "1.3.1.0"
  // Asks whoever runs the engine to stop it in order (the stop command); empty: the command
  // is refused.
  std::function<void()> requestStop;
};

// Console lines as events for the subscribers.
class ConsolePublisher final : public ConsoleSink {
 public:
  explicit ConsolePublisher(EventHub& events) : events_(events) {}
  void ConsoleLineAppended(const std::string& line) override {
    events_.Publish(event::ConsoleLine{line});
  }
  void ConsoleCleared() override { events_.Publish(event::ConsoleCleared{}); }

 private:
  EventHub& events_;
};

struct EngineState {
  explicit EngineState(ServerEnvironment environment);

  ServerEnvironment env;
  const std::thread::id engineThread = std::this_thread::get_id();
  Settings settings;
  LogWriter log;
  LanguageTable language;
  EventHub events;
  ConsolePublisher consoleSink{events};
  Console console;
  UserTable users;
  ServerPackets packets{settings};
  // Reads go through a cache that follows the file, also from the const row views.
  mutable BlockList blockList;
  AfsList afsList;
  TaggedFile settingsFile;
  TaggedFile commandFile;
  ConnectionList connections;
  BoardFolder board;

  bool listening = false;
  std::string listenError;
  std::int64_t startedAtMs = 0;
  bool shutDown = false;
  // With ServerIP empty: the machine's addresses clients can use.
  std::vector<std::string> machineAddresses;
  EngineCounters counters;
  // Deferred work checks it: a task that outlives the engine does nothing.
  std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

}  // namespace orv
