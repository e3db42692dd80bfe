// The MAC lookup's rules, the same on every system: which texts are addresses, what counts
// as found, and how a hardware address is written. The asking itself is a platform file's.
#include "moderation/mac_lookup.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>

#include "moderation/mac_lookup_platform.h"

namespace orv {

namespace {

bool AllZero(const std::vector<std::uint8_t>& bytes) {
  for (const std::uint8_t b : bytes) {
    if (b != 0) return false;
  }
  return true;
}

}  // namespace

std::optional<std::uint32_t> ParseIpv4Text(std::string_view text) {
  // Four decimal numbers 0..255 between three dots, without leading zeros, and nothing
  // else (a zero byte included): what inet_pton accepts for AF_INET.
  std::uint32_t address = 0;
  std::size_t pos = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (pos >= text.size() || text[pos] != '.') return std::nullopt;
      ++pos;
    }
    const std::size_t start = pos;
    unsigned value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 3) {
      value = value * 10 + static_cast<unsigned>(text[pos] - '0');
      ++pos;
    }
    const std::size_t digits = pos - start;
    if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) return std::nullopt;
    address = (address << 8) | value;
  }
  if (pos != text.size()) return std::nullopt;
  return address;
}

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
  const auto wanted = ParseIpv4Text(ip);
  if (!wanted) return std::string();
  std::istringstream lines{std::string(table)};
  std::string line;
  std::getline(lines, line);  // column headings
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string address, hwType, flags, hwAddress;
    if (!(fields >> address >> hwType >> flags >> hwAddress)) continue;
    if (ParseIpv4Text(address) != wanted) continue;
    // Flags 0 is an incomplete entry: the neighbour never answered.
    if (std::strtoul(flags.c_str(), nullptr, 16) == 0) continue;
    const auto bytes = ParseMacText(hwAddress);
    if (!bytes || AllZero(*bytes)) continue;
    return FormatMacBytes(*bytes);
  }
  return std::string();
}

std::string LookupMacAddress(const std::string& ip) {
  const auto address = ParseIpv4Text(ip);
  if (!address) return ip;
  // Loopback has no hardware address worth naming, and 0.0.0.0 names no machine.
  if ((*address >> 24) == 127 || *address == 0) return ip;
  const auto bytes = SystemMacAddress(*address);
  if (!bytes || bytes->empty() || AllZero(*bytes)) return ip;
  return FormatMacBytes(*bytes);
}

std::vector<std::string> MachineAddresses() {
  std::vector<std::string> addresses;
  for (const std::uint32_t address : SystemIpv4Addresses()) {
    // Loopback serves only this machine; 169.254.x.x is what a machine takes when no
    // network gave it an address.
    if ((address >> 24) == 127 || (address >> 16) == 0xA9FE || address == 0) continue;
    std::string text = std::to_string(address >> 24) + "." +
                       std::to_string((address >> 16) & 0xFF) + "." +
                       std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
    if (std::find(addresses.begin(), addresses.end(), text) == addresses.end())
      addresses.push_back(std::move(text));
  }
  if (addresses.empty()) addresses.push_back("127.0.0.1");
  return addresses;
}

}  // namespace orv
