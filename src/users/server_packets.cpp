#include "users/server_packets.h"

#include <string>

#include "console/version.h"
#include "protocol/wire_constants.h"

namespace orv {

std::string ServerPackets::CreatePacket(std::string_view payload, std::int32_t type,
                                        std::string_view subject,
                                        const ServerIdentity& identity) const {
  std::string packet;
  packet.reserve(identity.ip.size() + identity.mac.size() + settings_.ServerName.size() +
                 subject.size() + payload.size() + 48);
  packet += identity.ip;
  packet += '(';
  packet += identity.mac;
  packet += ')';
  packet += kFieldSeparator;
  packet += settings_.ServerName;
  packet += kFieldSeparator;
  packet += kServerAvatar;
  packet += kFieldSeparator;
  packet += subject;
  packet += kFieldSeparator;
  packet += kServerFlag;
  packet += kFieldSeparator;
  packet += std::to_string(type);
  packet += kFieldSeparator;
  packet += kServerBodyPrefix;
  packet += payload;
  packet += kTerminator;
  return packet;
}

std::string ServerPackets::BuildProfileFrom(const ServerIdentity& identity, const std::string& info,
                                            const std::string& www, const std::string& email,
                                            const std::string& mode) const {
  auto tag = [](const char* name, std::string_view value) {
    return std::string("|") + name + "|" + std::string(value) + "|/" + name + "|";
  };
  return tag("NAME", settings_.ServerName) + tag("AVATAR", kServerAvatar) + tag("IP", identity.ip) +
         tag("MAC", identity.mac) + tag("DESC", info) + tag("WWW", www) + tag("EMAIL", email) +
         tag("VERSION", std::string(kProductName) + " " + settings_.versionText) +
         tag("MODE", mode) + tag("SKINTHEME", "-") + tag("COMPNAME", "-") + tag("SYSNAME", "-") +
         tag("ACTIVEW", "-");
}

}  // namespace orv
