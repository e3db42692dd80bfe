#include "app/window_texts.h"

#include <algorithm>
#include <cstdio>

#include "console/code_page.h"

namespace orv {

std::string ListeningText(const ServerStatus& status) {
  if (!status.listening) {
    std::string reason = Cp1251ToUtf8(status.notListeningReason);
    const auto first = reason.find_first_not_of(" \t\r\n");
    const auto last = reason.find_last_not_of(" \t\r\n");
    reason = first == std::string::npos ? std::string() : reason.substr(first, last - first + 1);
    return reason.empty() ? "Not listening" : "Not listening: " + reason;
  }
  return "Listening on " + ClientAddressesText(status);
}

std::string ClientAddressesText(const ServerStatus& status) {
  const std::string port = ":" + std::to_string(status.port);
  if (status.clientAddresses.empty()) {
    return (status.address.empty() ? "0.0.0.0" : Cp1251ToUtf8(status.address)) + port;
  }
  std::string text;
  for (const std::string& address : status.clientAddresses)
    text += (text.empty() ? "" : ", ") + Cp1251ToUtf8(address) + port;
  return text;
}

std::string UsersOnlineText(int users) {
  return "Users online: " + std::to_string(users);
}

std::string UptimeText(std::int64_t milliseconds) {
  const std::int64_t seconds = std::max<std::int64_t>(milliseconds, 0) / 1000;
  const std::int64_t days = seconds / 86400;
  char clock[32];
  std::snprintf(clock, sizeof clock, "%lld:%02lld:%02lld",
                static_cast<long long>(seconds / 3600 % 24),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  return days > 0 ? "Up " + std::to_string(days) + " d " + clock : std::string("Up ") + clock;
}

std::string ExitQuestionText(int users) {
  const std::string who =
      users == 1 ? "1 user is connected and will be disconnected."
                 : std::to_string(users) + " users are connected and will be disconnected.";
  return who + "\nStop the chat server?";
}

std::string AfsCellText(const UserRow& row, int floodStopper) {
  if (row.afs >= 0) return std::to_string(row.afs);
  return "(" + std::to_string(floodStopper) + ")";
}

std::string AddressSortKey(std::string_view text) {
  std::string key = "0";
  std::size_t parts = 0;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t dot = text.find('.', pos);
    const std::string_view part = text.substr(pos, dot == std::string_view::npos ? dot : dot - pos);
    const bool digits =
        !part.empty() && part.size() <= 3 &&
        std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits || std::stoi(std::string(part)) > 255 || ++parts > 4)
      return "1" + std::string(text);
    char number[8];
    std::snprintf(number, sizeof number, "%03d.", std::stoi(std::string(part)));
    key += number;
    if (dot == std::string_view::npos) break;
    pos = dot + 1;
  }
  return parts == 4 ? key : "1" + std::string(text);
}

}  // namespace orv
