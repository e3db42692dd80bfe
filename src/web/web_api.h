// The web console's API as values: a request in, an answer out, with no HTTP library in
// sight (web_server.h carries them over HTTP). Logins and sessions, the CSRF check of every
// request that changes something, the routes and their JSON, and a console line naming
// every action and the admin's address. An answer that needs the engine comes back as the
// command to run and what to make of its outcome, so the HTTP side never waits for it.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "app/engine_commands.h"
#include "web/web_sessions.h"
#include "web/web_values.h"

namespace orv {

struct HttpRequest {
  std::string method;  // "GET", "POST", ...
  std::string path;    // decoded, without the query
  std::string body;
  std::string peer;         // the client's address
  std::string cookie;       // the session cookie's value, empty when none came
  std::string csrf;         // the X-CSRF-Token header
  std::string contentType;  // the Content-Type header
};

struct HttpResponse {
  int status = 200;
  std::string contentType = "application/json";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;  // Set-Cookie, Allow, ...
};

// The engine's part of an answer: run command, then finish makes the response from its
// outcome (on the HTTP side's thread).
struct PendingCommand {
  OperatorCommand command;
  std::function<HttpResponse(const Outcome&)> finish;
};

// GET /api/events by a live session: the HTTP side opens a stream of events for it.
struct EventStreamRequest {
  std::string session;
};

using ApiAnswer = std::variant<HttpResponse, PendingCommand, EventStreamRequest>;

class WebApi {
 public:
  static constexpr std::size_t kBodyLimit = 64 * 1024;
  static constexpr const char* kSessionCookie = "orvchat_session";

  struct Options {
    std::filesystem::path workDir;  // where the password hash is
    bool https = false;             // cookies are marked Secure
    bool metrics = true;            // /metrics answers
  };

  // texts gives the window's texts last heard from the engine (see TextsJson).
  WebApi(Options options, WebSessions& sessions, EngineCommands& engine,
         std::function<Json()> texts);

  ApiAnswer Handle(const HttpRequest& request);

  // What every response carries: a Content-Security-Policy that allows only the page's own
  // scripts and styles, no framing, no guessing of types, no caching, no referrer.
  static void AddCommonHeaders(HttpResponse& response);
  // A JSON error: {"error": text}.
  static HttpResponse Error(int status, const std::string& text);

 private:
  ApiAnswer Api(const HttpRequest& request);
  ApiAnswer Login(const HttpRequest& request);
  // A line on the console and in the log, through the engine.
  void Note(const std::string& text);
  // Runs command for the admin at peer, after the line that names it.
  PendingCommand Action(const std::string& peer, OperatorCommand command);
  std::string Cookie(const std::string& value, bool expire) const;

  const Options options_;
  WebSessions& sessions_;
  EngineCommands& engine_;
  std::function<Json()> texts_;
};

}  // namespace orv
