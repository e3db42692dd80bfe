#include "web/web_sessions.h"

#include <algorithm>
#include <utility>

#include "web/web_password.h"

namespace orv {

WebSessions::WebSessions(std::chrono::minutes idleLimit, Clock clock)
    : idleLimit_(idleLimit), clock_(std::move(clock)) {}

std::chrono::steady_clock::time_point WebSessions::Now() const {
  return clock_ ? clock_() : std::chrono::steady_clock::now();
}

std::optional<std::chrono::seconds> WebSessions::LockedOut(const std::string& address) {
  std::lock_guard lock(mutex_);
  const auto found = failures_.find(address);
  if (found == failures_.end()) return std::nullopt;
  const auto now = Now();
  const auto end = found->second.windowStart + kFailureWindow;
  if (now >= end) {
    failures_.erase(found);
    return std::nullopt;
  }
  if (found->second.count < kFailuresAllowed) return std::nullopt;
  return std::chrono::ceil<std::chrono::seconds>(end - now);
}

bool WebSessions::Failed(const std::string& address) {
  std::lock_guard lock(mutex_);
  const auto now = Now();
  if (failures_.size() >= kMostAddresses && failures_.count(address) == 0) {
    // Many addresses guessing: those whose minute is over are forgotten first.
    std::erase_if(failures_, [now](const auto& entry) {
      return now >= entry.second.windowStart + kFailureWindow;
    });
    if (failures_.size() >= kMostAddresses) failures_.erase(failures_.begin());
  }
  Failures& failures = failures_[address];
  if (failures.count == 0 || now >= failures.windowStart + kFailureWindow) {
    failures = Failures{now, 0};
  }
  ++failures.count;
  return failures.count == kFailuresAllowed;
}

WebSessions::Session WebSessions::Open(const std::string& address) {
  std::lock_guard lock(mutex_);
  const auto now = Now();
  ForgetExpired(now);
  if (sessions_.size() >= kMostSessions) {
    const auto oldest = std::min_element(sessions_.begin(), sessions_.end(), [](auto& a, auto& b) {
      return a.second.lastUse < b.second.lastUse;
    });
    sessions_.erase(oldest);
  }
  Session session{RandomToken(), RandomToken(), address};
  sessions_[session.id] = Entry{session, now};
  return session;
}

std::optional<WebSessions::Session> WebSessions::Use(const std::string& id) {
  std::lock_guard lock(mutex_);
  const auto now = Now();
  ForgetExpired(now);
  const auto found = sessions_.find(id);
  if (id.empty() || found == sessions_.end()) return std::nullopt;
  found->second.lastUse = now;
  return found->second.session;
}

bool WebSessions::Alive(const std::string& id) {
  std::lock_guard lock(mutex_);
  ForgetExpired(Now());
  return sessions_.count(id) > 0;
}

void WebSessions::Close(const std::string& id) {
  std::lock_guard lock(mutex_);
  sessions_.erase(id);
}

void WebSessions::ForgetExpired(std::chrono::steady_clock::time_point now) {
  std::erase_if(sessions_, [this, now](const auto& entry) {
    return now - entry.second.lastUse >= idleLimit_;
  });
}

}  // namespace orv
