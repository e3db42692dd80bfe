// The web console's API as values: logins and the lock-out, sessions and CSRF tokens, the
// routes and their answers, and the console line that names every action and its admin.
#include "web/web_api.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/fake_commands.h"
#include "support/temp_folder.h"
#include "web/web_password.h"

namespace orv {
namespace {

using testing::FakeCommands;
using testing::TempFolder;

constexpr const char* kPassword = "correct horse";
constexpr const char* kJson = "application/json";

class WebApiTest : public ::testing::Test {
 protected:
  WebApiTest() {
    std::string error;
    EXPECT_TRUE(SetWebPassword(folder_.Path(), kPassword, &error)) << error;
  }

  HttpRequest Request(std::string method, std::string path, std::string body = "",
                      std::string peer = "10.0.0.5") {
    HttpRequest request;
    request.method = std::move(method);
    request.path = std::move(path);
    request.body = std::move(body);
    request.peer = std::move(peer);
    request.contentType = kJson;
    request.cookie = cookie_;
    request.csrf = csrf_;
    return request;
  }

  // The answer, with the engine's part run through the fake engine.
  HttpResponse Answer(const HttpRequest& request) {
    ApiAnswer answer = api_.Handle(request);
    if (auto* pending = std::get_if<PendingCommand>(&answer)) {
      HttpResponse response;
      engine_.Execute(pending->command,
                      [&](Outcome outcome) { response = pending->finish(outcome); });
      return response;
    }
    EXPECT_TRUE(std::holds_alternative<HttpResponse>(answer));
    return std::holds_alternative<HttpResponse>(answer) ? std::get<HttpResponse>(answer)
                                                        : HttpResponse{};
  }

  Json Body(const HttpResponse& response) { return Json::parse(response.body); }

  static std::string HeaderOf(const HttpResponse& response, const std::string& name) {
    for (const auto& [key, value] : response.headers) {
      if (key == name) return value;
    }
    return {};
  }

  HttpResponse LogIn(const std::string& password = kPassword) {
    const HttpResponse response =
        Answer(Request("POST", "/api/login", Json{{"password", password}}.dump()));
    if (response.status == 200) {
      const std::string cookie = HeaderOf(response, "Set-Cookie");
      cookie_ = cookie.substr(cookie.find('=') + 1, cookie.find(';') - cookie.find('=') - 1);
      csrf_ = Body(response)["csrf"];
    }
    return response;
  }

  // The notes (console lines) the API asked the engine for.
  std::vector<std::string> Notes() const {
    std::vector<std::string> notes;
    for (const OperatorCommand& command : engine_.commands) {
      if (const auto* note = std::get_if<command::Note>(&command)) notes.push_back(note->text);
    }
    return notes;
  }

  TempFolder folder_;
  FakeCommands engine_;
  std::chrono::steady_clock::time_point now_{std::chrono::hours(1)};
  WebSessions sessions_{std::chrono::minutes(30), [this] { return now_; }};
  WebApi api_{{folder_.Path(), false, true}, sessions_, engine_, [] {
                return Json{{"kick", "Kick"}};
              }};
  std::string cookie_;
  std::string csrf_;
};

TEST_F(WebApiTest, ALoginGivesAStrictHttpOnlyCookieAndATokenAndIsOnTheConsole) {
  EXPECT_EQ(Answer(Request("GET", "/api/users")).status, 401);
  const HttpResponse response = LogIn();
  ASSERT_EQ(response.status, 200) << response.body;
  const std::string cookie = HeaderOf(response, "Set-Cookie");
  EXPECT_EQ(cookie.rfind("orvchat_session=", 0), 0u) << cookie;
  EXPECT_NE(cookie.find("; HttpOnly"), std::string::npos);
  EXPECT_NE(cookie.find("; SameSite=Strict"), std::string::npos);
  EXPECT_EQ(cookie.find("Secure"), std::string::npos);  // plain HTTP
  EXPECT_EQ(cookie_.size(), 64u);
  EXPECT_EQ(csrf_.size(), 64u);
  EXPECT_NE(cookie_, csrf_);
  EXPECT_EQ(Notes(), std::vector<std::string>{"Web console: 10.0.0.5 logged in"});

  // Under HTTPS the cookie is Secure.
  WebApi secure({folder_.Path(), true, true}, sessions_, engine_, {});
  const ApiAnswer answer =
      secure.Handle(Request("POST", "/api/login", Json{{"password", kPassword}}.dump()));
  EXPECT_NE(HeaderOf(std::get<HttpResponse>(answer), "Set-Cookie").find("; Secure"),
            std::string::npos);

  // Logging out ends the session and clears the cookie.
  EXPECT_EQ(Answer(Request("GET", "/api/users")).status, 200);
  const HttpResponse out = Answer(Request("POST", "/api/logout"));
  EXPECT_EQ(out.status, 200);
  EXPECT_NE(HeaderOf(out, "Set-Cookie").find("Max-Age=0"), std::string::npos);
  EXPECT_EQ(Notes().back(), "Web console: 10.0.0.5 logged out");
  EXPECT_EQ(Answer(Request("GET", "/api/users")).status, 401);
}

TEST_F(WebApiTest, WrongPasswordsAre401AndASixthTryInTheMinuteIs429EvenWhenRight) {
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(LogIn("guess").status, 401) << i;
  EXPECT_EQ(Notes()[0], "Web console: wrong password from 10.0.0.5");
  EXPECT_EQ(Notes()[4],
            "Web console: wrong password from 10.0.0.5; its logins are refused for the rest of "
            "the minute");
  now_ += std::chrono::seconds(20);
  const HttpResponse locked = LogIn();
  EXPECT_EQ(locked.status, 429);
  EXPECT_EQ(HeaderOf(locked, "Retry-After"), "40");
  // Another address is not held up; the minute over, this one may try again.
  EXPECT_EQ(Answer(Request("POST", "/api/login", Json{{"password", kPassword}}.dump(), "10.0.0.6"))
                .status,
            200);
  now_ += std::chrono::seconds(40);
  EXPECT_EQ(LogIn().status, 200);

  // Bodies that are not a password, and no password set at all.
  EXPECT_EQ(Answer(Request("POST", "/api/login", "{\"password\": 5}")).status, 400);
  EXPECT_EQ(Answer(Request("POST", "/api/login", "{oops")).status, 400);
  HttpRequest form = Request("POST", "/api/login", "password=x");
  form.contentType = "application/x-www-form-urlencoded";
  EXPECT_EQ(Answer(form).status, 415);
  std::filesystem::remove(folder_ / kWebPasswordFileName);
  const HttpResponse none = LogIn();
  EXPECT_EQ(none.status, 503);
  EXPECT_NE(Body(none)["error"].get<std::string>().find("--set-web-password"), std::string::npos);
}

TEST_F(WebApiTest, ChangesNeedTheSessionAndItsTokenAndSessionsExpireWhenIdle) {
  ASSERT_EQ(LogIn().status, 200);
  engine_.rows = {UserRow{"AA01", "anna", "10.0.0.7", "10.0.0.7", "", BlockState::kNone, -1}};
  const std::string token = csrf_;
  csrf_.clear();
  EXPECT_EQ(Answer(Request("POST", "/api/users/AA01/kick")).status, 403);
  csrf_ = "x" + token.substr(1);
  EXPECT_EQ(Answer(Request("POST", "/api/users/AA01/kick")).status, 403);
  EXPECT_TRUE(engine_.userCommands.empty());
  // A token without the session is not enough either.
  csrf_ = token;
  const std::string session = cookie_;
  cookie_ = "feed";
  EXPECT_EQ(Answer(Request("POST", "/api/users/AA01/kick")).status, 401);
  cookie_ = session;
  EXPECT_EQ(Answer(Request("POST", "/api/users/AA01/kick")).status, 200);

  // Each request restarts the idle time; 30 minutes without one end the session.
  now_ += std::chrono::minutes(29);
  EXPECT_EQ(Answer(Request("GET", "/api/status")).status, 200);
  now_ += std::chrono::minutes(29);
  EXPECT_EQ(Answer(Request("GET", "/api/status")).status, 200);
  now_ += std::chrono::minutes(30);
  EXPECT_EQ(Answer(Request("GET", "/api/status")).status, 401);
}

TEST_F(WebApiTest, ActionsRunTheirCommandAfterALineNamingItAndTheAdminsAddress) {
  ASSERT_EQ(LogIn().status, 200);
  // A Cyrillic name and MAC come from the engine in the code page, go out in UTF-8 and come
  // back as the code page.
  const std::string macCp =
      "\xC0\xC1"
      "01";  // "АБ01"
  engine_.rows = {UserRow{macCp, "\xC0\xED\xFF", "10.0.0.7", "10.0.0.7", "", BlockState::kNone, -1},
                  UserRow{"BB", "bob", "10.0.0.8", "10.0.0.8", "MAC", BlockState::kMac, 20}};
  const HttpResponse users = Answer(Request("GET", "/api/users"));
  ASSERT_EQ(users.status, 200);
  const Json rows = Body(users);
  EXPECT_EQ(rows[0]["name"], "Аня");
  EXPECT_EQ(rows[0]["mac"], "АБ01");
  EXPECT_TRUE(rows[0]["afs"].is_null());
  EXPECT_EQ(rows[1]["block"], "MAC");
  EXPECT_EQ(rows[1]["afs"], 20);

  EXPECT_EQ(Answer(Request("POST", "/api/users/АБ01/kick")).status, 200);
  EXPECT_EQ(Answer(Request("POST", "/api/users/АБ01/block", R"({"by":"name"})")).status, 200);
  EXPECT_EQ(Answer(Request("POST", "/api/users/АБ01/afs", R"({"value":25})")).status, 200);
  EXPECT_EQ(Answer(Request("POST", "/api/users/BB/unblock")).status, 200);
  EXPECT_EQ(engine_.userCommands, (std::vector<std::string>{"kick " + macCp, "block " + macCp,
                                                            "afs " + macCp + " 25", "unblock BB"}));
  const auto notes = Notes();
  ASSERT_EQ(notes.size(), 5u);
  EXPECT_EQ(notes[1], "Web console (10.0.0.5): kick " + macCp);
  EXPECT_EQ(notes[2], "Web console (10.0.0.5): block " + macCp + " by name");
  EXPECT_EQ(notes[3], "Web console (10.0.0.5): afs " + macCp + " 25");

  // Somebody not online is 404 with the engine's words; a refusal is 409.
  const HttpResponse gone = Answer(Request("POST", "/api/users/ZZ/kick"));
  EXPECT_EQ(gone.status, 404);
  EXPECT_EQ(Body(gone)["error"], "No user with MAC ZZ is online.");
  EXPECT_EQ(Answer(Request("POST", "/api/users/BB/block", R"({"by":"ip"})")).status, 409);

  // What the engine is not asked because it is no command.
  for (const char* bad : {R"({"by":"face"})", R"({})", "[]", "not json"}) {
    EXPECT_EQ(Answer(Request("POST", "/api/users/BB/block", bad)).status, 400) << bad;
  }
  for (const char* bad : {R"({"value":101})", R"({"value":-1})", R"({"value":"5"})"}) {
    EXPECT_EQ(Answer(Request("POST", "/api/users/BB/afs", bad)).status, 400) << bad;
  }

  // A message goes out in the code page; one of less than 2 characters does not.
  EXPECT_EQ(Answer(Request("POST", "/api/send", R"({"text":"Привет всем"})")).status, 200);
  EXPECT_EQ(engine_.sent, std::vector<std::string>{"\xCF\xF0\xE8\xE2\xE5\xF2 \xE2\xF1\xE5\xEC"});
  EXPECT_EQ(Answer(Request("POST", "/api/send", R"({"text":" x "})")).status, 400);
  EXPECT_EQ(Answer(Request("POST", "/api/send", R"({"message":"hi"})")).status, 400);

  engine_.reloadWorks = false;
  const HttpResponse reload = Answer(Request("POST", "/api/reload"));
  EXPECT_EQ(reload.status, 409);
  EXPECT_EQ(Body(reload)["error"], "bad port");
  EXPECT_EQ(Notes().back(), "Web console (10.0.0.5): reload");
  EXPECT_EQ(Answer(Request("POST", "/api/blocks/unblock", R"({"key":"10.0.0.9"})")).status, 409);
  engine_.blocks = {StoredBlock{"10.0.0.9", StoredBlockKind::kAddress, {}}};
  EXPECT_EQ(Answer(Request("POST", "/api/blocks/unblock", R"({"key":"10.0.0.9"})")).status, 200);
  EXPECT_EQ(std::get<command::UnblockEntry>(engine_.commands.back()).key, "10.0.0.9");
}

TEST_F(WebApiTest, UnknownPathsAndWrongMethodsAreSaidAndEveryAnswerCarriesThePolicy) {
  ASSERT_EQ(LogIn().status, 200);
  EXPECT_EQ(Answer(Request("GET", "/api/nothing")).status, 404);
  EXPECT_EQ(Answer(Request("POST", "/api/users/AA/explode")).status, 404);
  EXPECT_EQ(Answer(Request("GET", "/etc/passwd")).status, 404);
  EXPECT_EQ(Answer(Request("GET", "/../index.html")).status, 404);
  const HttpResponse wrong = Answer(Request("GET", "/api/users/AA/kick"));
  EXPECT_EQ(wrong.status, 405);
  EXPECT_EQ(HeaderOf(wrong, "Allow"), "POST");
  EXPECT_EQ(HeaderOf(Answer(Request("DELETE", "/api/users")), "Allow"), "GET");
  EXPECT_EQ(Answer(Request("PUT", "/")).status, 405);

  // The page needs no login; its status holds the window's texts.
  const HttpResponse page = Answer(Request("GET", "/"));
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.contentType, "text/html; charset=utf-8");
  EXPECT_EQ(Answer(Request("GET", "/console.js")).contentType, "text/javascript; charset=utf-8");
  EXPECT_EQ(Body(Answer(Request("GET", "/api/status")))["texts"]["kick"], "Kick");

  HttpResponse response;
  WebApi::AddCommonHeaders(response);
  EXPECT_EQ(HeaderOf(response, "X-Frame-Options"), "DENY");
  const std::string policy = HeaderOf(response, "Content-Security-Policy");
  EXPECT_NE(policy.find("default-src 'none'"), std::string::npos);
  EXPECT_NE(policy.find("script-src 'self'"), std::string::npos);
  EXPECT_NE(policy.find("style-src 'self'"), std::string::npos);
  EXPECT_EQ(policy.find("unsafe"), std::string::npos);

  // The event stream is the HTTP side's to open, for this session.
  const ApiAnswer events = api_.Handle(Request("GET", "/api/events"));
  ASSERT_TRUE(std::holds_alternative<EventStreamRequest>(events));
  EXPECT_EQ(std::get<EventStreamRequest>(events).session, cookie_);
}

TEST_F(WebApiTest, MetricsNeedNoLoginAndCanBeTurnedOff) {
  engine_.status.users = 3;
  const HttpResponse metrics = Answer(Request("GET", "/metrics"));
  EXPECT_EQ(metrics.status, 200);
  EXPECT_EQ(metrics.contentType, "text/plain; version=0.0.4; charset=utf-8");
  EXPECT_NE(metrics.body.find("\norvchat_users_online 3\n"), std::string::npos);
  WebApi off({folder_.Path(), false, false}, sessions_, engine_, {});
  EXPECT_EQ(std::get<HttpResponse>(off.Handle(Request("GET", "/metrics"))).status, 404);
}

}  // namespace
}  // namespace orv
