// Who is logged in to the web console: sessions (a random id in an HttpOnly cookie, a CSRF
// token the page sends back in a header), ended by a logout or after a time without
// requests; and the login gate that turns an address away for the rest of a minute once it
// gave five wrong passwords in it (its next try would be the sixth). Thread-safe: the HTTP threads
// share one.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace orv {

class WebSessions {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  static constexpr int kFailuresAllowed = 5;  // wrong passwords per address and minute
  static constexpr auto kFailureWindow = std::chrono::minutes(1);
  static constexpr std::size_t kMostSessions = 64;
  static constexpr std::size_t kMostAddresses = 10000;  // remembered for the login gate

  struct Session {
    std::string id;
    std::string csrf;
    std::string address;  // where it logged in from
  };

  explicit WebSessions(std::chrono::minutes idleLimit, Clock clock = {});

  // Whether address may try a password now; when not, how long until it may.
  std::optional<std::chrono::seconds> LockedOut(const std::string& address);
  // A wrong password from address; true when this one locked it out.
  bool Failed(const std::string& address);
  // A right one: the new session (the oldest session goes when there are too many).
  Session Open(const std::string& address);

  // The session with id, its idle time restarted; nothing when there is none or it expired.
  std::optional<Session> Use(const std::string& id);
  // Whether the session still lives, without counting this as a request.
  bool Alive(const std::string& id);
  void Close(const std::string& id);

 private:
  struct Entry {
    Session session;
    std::chrono::steady_clock::time_point lastUse;
  };
  struct Failures {
    std::chrono::steady_clock::time_point windowStart;
    int count = 0;
  };
  std::chrono::steady_clock::time_point Now() const;
  void ForgetExpired(std::chrono::steady_clock::time_point now);

  const std::chrono::minutes idleLimit_;
  const Clock clock_;
  std::mutex mutex_;
  std::map<std::string, Entry> sessions_;
  std::map<std::string, Failures> failures_;
};

}  // namespace orv
