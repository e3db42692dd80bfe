// The web console as the program starts it: reads its settings from the working folder,
// follows the engine through one event queue, and serves the page, the API and /metrics on
// the address WebConsole names. It talks to the engine only through operator commands and
// events.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/engine_commands.h"
#include "server/engine_event.h"

namespace orv {

struct WebConsoleSettings {
  std::string address;  // empty: no web console
  int port = 0;
  std::string certificateFile;  // both set: HTTPS
  std::string keyFile;
  std::chrono::minutes sessionIdle{30};
  bool metrics = true;
};

// The web console's settings in workDir's settings file (checked at the start already).
WebConsoleSettings ReadWebConsoleSettings(const std::filesystem::path& workDir);

class WebConsole {
 public:
  WebConsole(EngineCommands& engine, std::filesystem::path workDir, WebConsoleSettings settings);
  ~WebConsole();
  WebConsole(const WebConsole&) = delete;
  WebConsole& operator=(const WebConsole&) = delete;

  // What follows the engine for every page: subscribe it before the engine starts.
  std::shared_ptr<EventSubscriber> Subscriber() const;

  // Starts listening; subscribe hands the engine a new queue should the old one be dropped.
  // false, with error set to a sentence, when it cannot (then the server runs without it).
  // The lines it has to say (where it listens, warnings) go to the console through the
  // engine.
  bool Start(std::function<void(std::shared_ptr<EventSubscriber>)> subscribe, std::string* error);
  void Stop();

  // "http://127.0.0.1:9011/" once started.
  std::string Url() const;
  // The console lines Start said.
  const std::vector<std::string>& StartLines() const { return startLines_; }

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
  EngineCommands& engine_;
  const std::filesystem::path workDir_;
  const WebConsoleSettings settings_;
  std::vector<std::string> startLines_;
};

}  // namespace orv
