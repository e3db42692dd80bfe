// Packets the server originates: its header (as a participant named after ServerName), the
// canned command texts and its own profile.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "moderation/settings.h"

namespace orv {

// The address and MAC the server's packets carry: ServerIP and serverMac, or, when the
// server listens on every address, the local address a connection reached and the MAC of
// that interface.
struct ServerIdentity {
  std::string ip;
  std::string mac;
};

class ServerPackets {
 public:
  explicit ServerPackets(const Settings& settings) : settings_(settings) {}

  // ip "(" mac ")||" ServerName "||server.gif||" subject "||1||" type "||1:" payload
  // "//end", unsubstituted.
  std::string CreatePacket(std::string_view payload, std::int32_t type, std::string_view subject,
                           const ServerIdentity& identity) const;

  // The thirteen tag pairs of the server's profile; commandText looks up INFO, WWW, EMAIL and
  // MODE in the command file.
  template <typename CommandText>
  std::string BuildServerProfile(const ServerIdentity& identity, CommandText&& commandText) const {
    return BuildProfileFrom(identity, commandText("INFO"), commandText("WWW"), commandText("EMAIL"),
                            commandText("MODE"));
  }
  std::string BuildProfileFrom(const ServerIdentity& identity, const std::string& info,
                               const std::string& www, const std::string& email,
                               const std::string& mode) const;

 private:
  const Settings& settings_;
};

}  // namespace orv
