// The one platform file of the core: the Linux way to find a hardware address (interface
// list, sysfs, ioctl and the kernel's ARP table).
#include "moderation/mac_lookup.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>

#include "files/cached_file.h"

namespace orv {

namespace {

// A hardware address as "aa:bb:cc:dd:ee:ff" text (either case); nothing when the text is
// not one, or when it has no bytes or more than an ARP reply can carry.
std::optional<std::vector<std::uint8_t>> ParseMacText(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::uint8_t byte = 0;
    int digits = 0;
    while (pos < text.size() && digits < 2) {
      const char c = text[pos];
      int v = -1;
      if (c >= '0' && c <= '9') v = c - '0';
      if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
      if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
      if (v < 0) break;
      byte = static_cast<std::uint8_t>(byte * 16 + v);
      ++digits;
      ++pos;
    }
    if (digits == 0) return std::nullopt;
    bytes.push_back(byte);
    if (pos == text.size()) break;
    if (text[pos] != ':') return std::nullopt;
    ++pos;
    if (pos == text.size()) return std::nullopt;
  }
  if (bytes.empty() || bytes.size() > 8) return std::nullopt;
  return bytes;
}

bool AllZero(const std::vector<std::uint8_t>& bytes) {
  for (const std::uint8_t b : bytes) {
    if (b != 0) return false;
  }
  return true;
}

std::optional<in_addr> ParseIpv4(const std::string& ip) {
  // A zero byte would cut the text short for inet_pton and let "1.2.3.4<NUL>junk" pass.
  if (ip.find('\0') != std::string::npos) return std::nullopt;
  in_addr addr{};
  if (inet_pton(AF_INET, ip.c_str(), &addr) != 1) return std::nullopt;
  return addr;
}

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

// The local interface holding addr; its hardware address when it has one.
std::optional<std::vector<std::uint8_t>> LocalInterfaceMac(const in_addr& addr) {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return std::nullopt;
  std::optional<std::vector<std::uint8_t>> result;
  for (const ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET || it->ifa_name == nullptr)
      continue;
    sockaddr_in held{};
    std::memcpy(&held, it->ifa_addr, sizeof held);
    if (held.sin_addr.s_addr != addr.s_addr) continue;
    if ((it->ifa_flags & IFF_LOOPBACK) != 0) break;
    result = InterfaceHardwareAddress(it->ifa_name);
    break;
  }
  ::freeifaddrs(list);
  return result;
}

}  // namespace

std::string FormatMacBytes(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  char piece[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i + 1 < bytes.size()) {
      std::snprintf(piece, sizeof piece, "%02X:", bytes[i]);
    } else {
      std::snprintf(piece, sizeof piece, "%02X", bytes[i]);
    }
    text += piece;
  }
  return text;
}

std::string LookupMacInArpTable(std::string_view table, const std::string& ip) {
  const auto wanted = ParseIpv4(ip);
  if (!wanted) return std::string();
  std::istringstream lines{std::string(table)};
  std::string line;
  std::getline(lines, line);  // column headings
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string address, hwType, flags, hwAddress;
    if (!(fields >> address >> hwType >> flags >> hwAddress)) continue;
    const auto held = ParseIpv4(address);
    if (!held || held->s_addr != wanted->s_addr) continue;
    // Flags 0 is an incomplete entry: the neighbour never answered.
    if (std::strtoul(flags.c_str(), nullptr, 16) == 0) continue;
    const auto bytes = ParseMacText(hwAddress);
    if (!bytes || AllZero(*bytes)) continue;
    return FormatMacBytes(*bytes);
  }
  return std::string();
}

std::string LookupMacAddress(const std::string& ip) {
  const auto addr = ParseIpv4(ip);
  if (!addr) return ip;
  // Loopback has no hardware address worth naming.
  if ((ntohl(addr->s_addr) >> 24) == 127) return ip;

  if (const auto bytes = LocalInterfaceMac(*addr)) {
    if (!AllZero(*bytes)) return FormatMacBytes(*bytes);
  }
  const std::optional<std::string> table = ReadFileBytes("/proc/net/arp");
  if (!table) return ip;
  const std::string found = LookupMacInArpTable(*table, ip);
  return found.empty() ? ip : found;
}

}  // namespace orv
