// Packets the server originates: its header (as a participant named after ServerName), the
// canned command texts and its own profile.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "moderation/settings.h"

namespace orv {

class ServerPackets {
 public:
  explicit ServerPackets(const Settings& settings) : settings_(settings) {}

  // ServerIP "(" serverMac ")||" ServerName "||server.gif||" subject "||1||" type "||1:"
  // payload "//end", unsubstituted.
  std::string CreatePacket(std::string_view payload, std::int32_t type,
                           std::string_view subject) const;

  // The thirteen tag pairs of the server's profile; commandText looks up INFO, WWW, EMAIL and
  // MODE in the command file.
  template <typename CommandText>
  std::string BuildServerProfile(CommandText&& commandText) const {
    return BuildProfileFrom(commandText("INFO"), commandText("WWW"), commandText("EMAIL"),
                            commandText("MODE"));
  }
  std::string BuildProfileFrom(const std::string& info, const std::string& www,
                               const std::string& email, const std::string& mode) const;

 private:
  const Settings& settings_;
};

}  // namespace orv
