// The MAC lookup on Linux and the other POSIX systems: the interface list, sysfs or an
// ioctl for local addresses, the kernel's ARP table for neighbours.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>

#include "files/cached_file.h"
#include "moderation/mac_lookup.h"
#include "moderation/mac_lookup_platform.h"

namespace orv {

namespace {

std::optional<std::vector<std::uint8_t>> InterfaceHardwareAddress(const char* name) {
  std::ifstream in(std::string("/sys/class/net/") + name + "/address");
  std::string text;
  if (in && std::getline(in, text)) {
    while (!text.empty() && (text.back() == '\r' || text.back() == ' '))
      text.pop_back();
    if (auto bytes = ParseMacText(text)) return bytes;
  }

  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return std::nullopt;
  ifreq request{};
  std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
  std::optional<std::vector<std::uint8_t>> result;
  if (::ioctl(fd, SIOCGIFHWADDR, &request) == 0) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(request.ifr_hwaddr.sa_data);
    result = std::vector<std::uint8_t>(data, data + 6);
  }
  ::close(fd);
  return result;
}

// The local interface holding address; its hardware address when it has one.
std::optional<std::vector<std::uint8_t>> LocalInterfaceMac(std::uint32_t address) {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return std::nullopt;
  std::optional<std::vector<std::uint8_t>> result;
  for (const ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET || it->ifa_name == nullptr)
      continue;
    sockaddr_in held{};
    std::memcpy(&held, it->ifa_addr, sizeof held);
    if (ntohl(held.sin_addr.s_addr) != address) continue;
    if ((it->ifa_flags & IFF_LOOPBACK) != 0) break;
    result = InterfaceHardwareAddress(it->ifa_name);
    break;
  }
  ::freeifaddrs(list);
  return result;
}

std::string DottedText(std::uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
         std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

}  // namespace

std::vector<std::uint32_t> SystemIpv4Addresses() {
  std::vector<std::uint32_t> addresses;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return addresses;
  for (const ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
    if ((it->ifa_flags & IFF_UP) == 0) continue;
    sockaddr_in held{};
    std::memcpy(&held, it->ifa_addr, sizeof held);
    addresses.push_back(ntohl(held.sin_addr.s_addr));
  }
  ::freeifaddrs(list);
  return addresses;
}

std::optional<std::vector<std::uint8_t>> SystemMacAddress(std::uint32_t address) {
  if (auto bytes = LocalInterfaceMac(address)) {
    bool zero = true;
    for (const std::uint8_t b : *bytes)
      zero = zero && b == 0;
    if (!zero) return bytes;
  }
  const std::optional<std::string> table = ReadFileBytes("/proc/net/arp");
  if (!table) return std::nullopt;
  const std::string found = LookupMacInArpTable(*table, DottedText(address));
  if (found.empty()) return std::nullopt;
  return ParseMacText(found);
}

}  // namespace orv
