#include "users/server_packets.h"

#include <string>

#include "console/version.h"

namespace orv {

std::string ServerPackets::CreatePacket(std::string_view payload, std::int32_t type,
                                        std::string_view subject) const {
  std::string packet;
  packet.reserve(settings_.ServerIP.size() + settings_.serverMac.size() +
                 settings_.ServerName.size() + subject.size() + payload.size() + 48);
  packet += settings_.ServerIP;
  packet += '(';
  packet += settings_.serverMac;
  packet += ")||";
  packet += settings_.ServerName;
  packet += "||server.gif||";
  packet += subject;
  packet += "||1||";
  packet += std::to_string(type);
  packet += "||1:";
  packet += payload;
  packet += "//end";
  return packet;
}

std::string ServerPackets::BuildProfileFrom(const std::string& info, const std::string& www,
                                            const std::string& email,
                                            const std::string& mode) const {
  auto tag = [](const char* name, const std::string& value) {
    return std::string("|") + name + "|" + value + "|/" + name + "|";
  };
  return tag("NAME", settings_.ServerName) + tag("AVATAR", "server.gif") +
         tag("IP", settings_.ServerIP) + tag("MAC", settings_.serverMac) + tag("DESC", info) +
         tag("WWW", www) + tag("EMAIL", email) +
         tag("VERSION", std::string(kProductName) + " " + settings_.versionText) +
         tag("MODE", mode) + tag("SKINTHEME", "-") + tag("COMPNAME", "-") + tag("SYSNAME", "-") +
         tag("ACTIVEW", "-");
}

}  // namespace orv
