// The web console's HTTP side, on libmicrohttpd: its own threads (never the engine's), HTTPS
// when given a certificate, and every bound a server on a LAN needs: connections in all and
// per address, an idle timeout for slow and half-open clients, a header size and a body
// limit. Requests go to WebApi; an answer that needs the engine suspends its connection
// until the outcome comes back, so no thread waits on the engine, and the engine never
// waits on a browser (it only hands the outcome over).
#pragma once

#include <memory>
#include <string>

#include "app/engine_commands.h"
#include "web/event_streams.h"
#include "web/web_api.h"

namespace orv {

class WebServer {
 public:
  static constexpr unsigned kMostConnections = 256;
  static constexpr unsigned kMostPerAddress = 64;
  static constexpr unsigned kIdleSeconds = 30;
  static constexpr unsigned kThreads = 2;

  struct Options {
    std::string address;  // IPv4
    int port = 0;
    std::string certificatePem;  // both set: HTTPS
    std::string keyPem;
  };

  WebServer(WebApi& api, EngineCommands& engine, EventStreams& streams);
  // Stops as Stop does.
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Listens and answers. false, with error set to a sentence, when it cannot.
  bool Start(const Options& options, std::string* error);
  // The port it listens on (the one given, or the system's choice for 0).
  int Port() const;
  // Answers what waits with 503, ends the event streams and closes every connection.
  void Stop();

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
  WebApi& api_;
  EngineCommands& engine_;
  EventStreams& streams_;
};

}  // namespace orv
