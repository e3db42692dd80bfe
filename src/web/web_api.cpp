#include "web/web_api.h"

#include <optional>
#include <string_view>

#include "console/code_page.h"
#include "web/page_files.h"
#include "web/web_password.h"

namespace orv {

namespace {

HttpResponse JsonResponse(int status, const Json& body) {
  HttpResponse response;
  response.status = status;
  response.body = JsonLine(body);
  return response;
}

HttpResponse MethodNotAllowed(const char* allow) {
  HttpResponse response = WebApi::Error(405, std::string("Use ") + allow + " here.");
  response.headers.emplace_back("Allow", allow);
  return response;
}

// The outcome of a command that acts: done (200), nobody online with the MAC (404), or
// refused with the engine's reason (409).
HttpResponse ActionResult(const Outcome& outcome) {
  Json lines = Json::array();
  for (const std::string& line : outcome.lines)
    lines.push_back(Cp1251ToUtf8(line));
  if (outcome.done) return JsonResponse(200, {{"done", true}, {"lines", lines}});
  const std::string why = outcome.lines.empty() ? "Refused." : Cp1251ToUtf8(outcome.lines.front());
  return JsonResponse(outcome.noSuchUser ? 404 : 409, {{"error", why}, {"lines", lines}});
}

std::string ContentTypeOf(std::string_view path) {
  if (path.ends_with(".js")) return "text/javascript; charset=utf-8";
  if (path.ends_with(".css")) return "text/css; charset=utf-8";
  if (path.ends_with(".svg")) return "image/svg+xml";
  return "text/html; charset=utf-8";
}

bool IsJson(const std::string& contentType) {
  const std::string_view type = std::string_view(contentType).substr(0, contentType.find(';'));
  return type == "application/json";
}

std::string Trimmed(const std::string& text) {
  const auto begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

}  // namespace

WebApi::WebApi(Options options, WebSessions& sessions, EngineCommands& engine,
               std::function<Json()> texts)
    : options_(std::move(options)),
      sessions_(sessions),
      engine_(engine),
      texts_(std::move(texts)) {}

void WebApi::AddCommonHeaders(HttpResponse& response) {
  response.headers.emplace_back("Content-Security-Policy",
                                "default-src 'none'; script-src 'self'; style-src 'self'; "
                                "connect-src 'self'; img-src 'self'; base-uri 'none'; "
                                "form-action 'none'; frame-ancestors 'none'");
  response.headers.emplace_back("X-Frame-Options", "DENY");
  response.headers.emplace_back("X-Content-Type-Options", "nosniff");
  response.headers.emplace_back("Referrer-Policy", "no-referrer");
  response.headers.emplace_back("Cache-Control", "no-store");
}

HttpResponse WebApi::Error(int status, const std::string& text) {
  return JsonResponse(status, {{"error", text}});
}

ApiAnswer WebApi::Handle(const HttpRequest& request) {
  const std::string& path = request.path;
  const bool read = request.method == "GET" || request.method == "HEAD";
  if (path.rfind("/api/", 0) == 0) return Api(request);
  if (path == "/metrics") {
    if (!options_.metrics) return Error(404, "/metrics is turned off (WebConsoleMetrics).");
    if (!read) return MethodNotAllowed("GET");
    return PendingCommand{command::Status{}, [](const Outcome& outcome) {
                            HttpResponse response;
                            response.contentType = "text/plain; version=0.0.4; charset=utf-8";
                            response.body = MetricsText(outcome.status);
                            return response;
                          }};
  }
  const PageFile* file = FindPageFile(path == "/" ? "/index.html" : path);
  if (file == nullptr) return Error(404, "Nothing is at " + path + ".");
  if (!read) return MethodNotAllowed("GET");
  HttpResponse response;
  response.contentType = ContentTypeOf(file->path);
  response.body = std::string(file->content);
  return response;
}

ApiAnswer WebApi::Api(const HttpRequest& request) {
  const std::string path = request.path.substr(std::string_view("/api").size());
  const bool get = request.method == "GET" || request.method == "HEAD";
  const bool post = request.method == "POST";

  // Which route, and whether it changes something (POST: session and CSRF token).
  enum class Route {
    kNone,
    kLogin,
    kLogout,
    kStatus,
    kUsers,
    kUser,
    kSend,
    kBlocks,
    kUnblockEntry,
    kReload,
    kEvents
  };
  Route route = Route::kNone;
  bool changes = true;
  std::string mac;
  std::string action;
  if (path == "/login")
    route = Route::kLogin;
  else if (path == "/logout")
    route = Route::kLogout;
  else if (path == "/send")
    route = Route::kSend;
  else if (path == "/blocks/unblock")
    route = Route::kUnblockEntry;
  else if (path == "/reload")
    route = Route::kReload;
  else if (path == "/status")
    route = Route::kStatus, changes = false;
  else if (path == "/users")
    route = Route::kUsers, changes = false;
  else if (path == "/blocks")
    route = Route::kBlocks, changes = false;
  else if (path == "/events")
    route = Route::kEvents, changes = false;
  else if (path.rfind("/users/", 0) == 0) {
    // /users/{mac}/{action}; the MAC may hold anything but a slash.
    const std::string rest = path.substr(std::string_view("/users/").size());
    const auto slash = rest.rfind('/');
    if (slash != std::string::npos && slash > 0) {
      mac = rest.substr(0, slash);
      action = rest.substr(slash + 1);
      if (mac.find('/') == std::string::npos &&
          (action == "kick" || action == "block" || action == "unblock" || action == "afs")) {
        route = Route::kUser;
      }
    }
  }
  if (route == Route::kNone) return Error(404, "No such API: " + request.path + ".");
  if (changes && !post) return MethodNotAllowed("POST");
  if (!changes && !get) return MethodNotAllowed("GET");
  if (route == Route::kLogin) return Login(request);

  const std::optional<WebSessions::Session> session = sessions_.Use(request.cookie);
  if (!session) return Error(401, "Log in first (or again: the session ended).");
  if (changes && !SameSecret(request.csrf, session->csrf)) {
    return Error(403, "The X-CSRF-Token header is missing or wrong.");
  }

  // The body of the routes that take one.
  Json body;
  if (route == Route::kSend || route == Route::kUnblockEntry ||
      (route == Route::kUser && (action == "block" || action == "afs"))) {
    if (!IsJson(request.contentType)) {
      return Error(415, "Send the body as JSON (Content-Type: application/json).");
    }
    body = Json::parse(request.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) return Error(400, "The body is no JSON object.");
  }
  auto text = [&body](const char* key) -> std::optional<std::string> {
    const auto found = body.find(key);
    if (found == body.end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
  };

  const std::string& peer = request.peer;
  switch (route) {
    case Route::kLogout: {
      sessions_.Close(session->id);
      Note("Web console: " + peer + " logged out");
      HttpResponse response = JsonResponse(200, {{"done", true}});
      response.headers.emplace_back("Set-Cookie", Cookie("", true));
      return response;
    }
    case Route::kStatus:
      return PendingCommand{command::Status{}, [texts = texts_](const Outcome& outcome) {
                              Json status = StatusValue(outcome.status);
                              status["texts"] = texts ? texts() : Json::object();
                              return JsonResponse(200, status);
                            }};
    case Route::kUsers:
      return PendingCommand{command::Users{}, [](const Outcome& outcome) {
                              return JsonResponse(200, UsersValue(outcome.users));
                            }};
    case Route::kBlocks:
      return PendingCommand{command::Blocks{}, [](const Outcome& outcome) {
                              return JsonResponse(200, BlocksValue(outcome.blocks));
                            }};
    case Route::kEvents:
      return EventStreamRequest{session->id};
    case Route::kReload:
      return Action(peer, command::Reload{});
    case Route::kSend: {
      const std::optional<std::string> message = text("text");
      if (!message) return Error(400, "Give the message as {\"text\": \"...\"}.");
      if (Trimmed(*message).size() < 2) {
        return Error(400, "Nothing was sent: a message needs at least 2 characters.");
      }
      return Action(peer, command::Send{Utf8ToCp1251(*message)});
    }
    case Route::kUnblockEntry: {
      const std::optional<std::string> key = text("key");
      if (!key || key->empty()) return Error(400, "Give the entry as {\"key\": \"...\"}.");
      return Action(peer, command::UnblockEntry{Utf8ToCp1251(*key)});
    }
    case Route::kUser: {
      const std::string userMac = Utf8ToCp1251(mac);
      if (action == "kick") return Action(peer, command::Kick{userMac});
      if (action == "unblock") return Action(peer, command::Unblock{userMac});
      if (action == "block") {
        const std::string by = text("by").value_or("");
        const BlockState state = by == "ip"        ? BlockState::kIp
                                 : by == "mac"     ? BlockState::kMac
                                 : by == "name"    ? BlockState::kName
                                 : by == "address" ? BlockState::kAddress
                                                   : BlockState::kNone;
        if (state == BlockState::kNone) {
          return Error(400, "Give {\"by\": \"ip\"}, \"mac\", \"name\" or \"address\".");
        }
        return Action(peer, command::Block{userMac, state});
      }
      const auto value = body.find("value");
      if (value == body.end() || !value->is_number_integer() || *value < 0 || *value > 100) {
        return Error(400, "Give the AFS value as {\"value\": N}, N from 0 to 100.");
      }
      return Action(peer, command::SetAfs{userMac, value->get<std::int32_t>()});
    }
    default:
      return Error(404, "No such API: " + request.path + ".");
  }
}

ApiAnswer WebApi::Login(const HttpRequest& request) {
  const std::string& peer = request.peer;
  if (const auto wait = sessions_.LockedOut(peer)) {
    HttpResponse response = Error(429, "Too many wrong passwords from " + peer + ": try again in " +
                                           std::to_string(wait->count()) + " s.");
    response.headers.emplace_back("Retry-After", std::to_string(wait->count()));
    return response;
  }
  if (!IsJson(request.contentType)) {
    return Error(415, "Send the body as JSON (Content-Type: application/json).");
  }
  const Json body = Json::parse(request.body, nullptr, false);
  const auto password = body.is_object() ? body.find("password") : body.end();
  if (body.is_discarded() || !body.is_object() || password == body.end() ||
      !password->is_string()) {
    return Error(400, "Give the password as {\"password\": \"...\"}.");
  }
  const std::optional<std::string> hash = ReadWebPasswordHash(options_.workDir);
  if (!hash) {
    return Error(503,
                 "No web console password is set: run orvchatserver --set-web-password -C "
                 "WORKDIR on the server.");
  }
  if (!VerifyWebPassword(*hash, password->get<std::string>())) {
    const bool locked = sessions_.Failed(peer);
    Note("Web console: wrong password from " + peer +
         (locked ? "; its logins are refused for the rest of the minute" : ""));
    return Error(401, "Wrong password.");
  }
  const WebSessions::Session session = sessions_.Open(peer);
  Note("Web console: " + peer + " logged in");
  HttpResponse response = JsonResponse(200, {{"csrf", session.csrf}});
  response.headers.emplace_back("Set-Cookie", Cookie(session.id, false));
  return response;
}

void WebApi::Note(const std::string& text) {
  engine_.Execute(command::Note{text});
}

PendingCommand WebApi::Action(const std::string& peer, OperatorCommand command) {
  Note("Web console (" + peer + "): " + Describe(command));
  return PendingCommand{std::move(command), ActionResult};
}

std::string WebApi::Cookie(const std::string& value, bool expire) const {
  std::string cookie =
      std::string(kSessionCookie) + "=" + value + "; Path=/; HttpOnly; SameSite=Strict";
  if (options_.https) cookie += "; Secure";
  if (expire) cookie += "; Max-Age=0";
  return cookie;
}

}  // namespace orv
