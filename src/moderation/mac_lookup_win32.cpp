// The MAC lookup on Windows, through the IP Helper API: the adapter list for local
// addresses, then the ARP table, then an ARP request on the network (SendARP).
#include <winsock2.h>
#include <ws2tcpip.h>
// After the socket headers, which it needs.
#include <iphlpapi.h>

#include <vector>

#include "moderation/mac_lookup_platform.h"

namespace orv {

namespace {

std::vector<std::uint8_t> Bytes(const BYTE* data, ULONG length) {
  return std::vector<std::uint8_t>(data, data + length);
}

// The adapter holding address among the local interfaces.
std::optional<std::vector<std::uint8_t>> AdapterMac(std::uint32_t address) {
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  ULONG size = 16 * 1024;
  std::vector<unsigned char> buffer;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  // The list can grow between the two calls; a few tries are plenty.
  for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    result = GetAdaptersAddresses(AF_INET, flags, nullptr,
                                  reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result != NO_ERROR) return std::nullopt;
  for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data());
       adapter != nullptr; adapter = adapter->Next) {
    for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
      const SOCKADDR* held = unicast->Address.lpSockaddr;
      if (held == nullptr || held->sa_family != AF_INET) continue;
      const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(held);
      if (ntohl(ipv4->sin_addr.s_addr) != address) continue;
      if (adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK || adapter->PhysicalAddressLength == 0)
        return std::nullopt;
      return Bytes(adapter->PhysicalAddress, adapter->PhysicalAddressLength);
    }
  }
  return std::nullopt;
}

// A complete entry of the ARP table (invalid entries are neighbours that never answered).
std::optional<std::vector<std::uint8_t>> ArpTableMac(std::uint32_t address) {
  ULONG size = 0;
  if (GetIpNetTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER || size == 0)
    return std::nullopt;
  std::vector<unsigned char> buffer(size);
  auto* table = reinterpret_cast<MIB_IPNETTABLE*>(buffer.data());
  if (GetIpNetTable(table, &size, FALSE) != NO_ERROR) return std::nullopt;
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_IPNETROW& row = table->table[i];
    if (ntohl(row.dwAddr) != address || row.dwType == MIB_IPNET_TYPE_INVALID) continue;
    if (row.dwPhysAddrLen == 0 || row.dwPhysAddrLen > MAXLEN_PHYSADDR) continue;
    return Bytes(row.bPhysAddr, row.dwPhysAddrLen);
  }
  return std::nullopt;
}

// Asks the network; blocks until the neighbour answers or the request times out.
std::optional<std::vector<std::uint8_t>> ArpRequestMac(std::uint32_t address) {
  ULONG buffer[2] = {0xFFFFFFFF, 0xFFFFFFFF};  // 8 bytes, as the call wants room for
  ULONG length = 6;
  if (SendARP(htonl(address), 0, buffer, &length) != NO_ERROR || length == 0 || length > 8)
    return std::nullopt;
  return Bytes(reinterpret_cast<const BYTE*>(buffer), length);
}

}  // namespace

std::vector<std::uint32_t> SystemIpv4Addresses() {
  std::vector<std::uint32_t> addresses;
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  ULONG size = 16 * 1024;
  std::vector<unsigned char> buffer;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    result = GetAdaptersAddresses(AF_INET, flags, nullptr,
                                  reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result != NO_ERROR) return addresses;
  for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data());
       adapter != nullptr; adapter = adapter->Next) {
    if (adapter->OperStatus != IfOperStatusUp) continue;
    for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
      const SOCKADDR* held = unicast->Address.lpSockaddr;
      if (held == nullptr || held->sa_family != AF_INET) continue;
      addresses.push_back(ntohl(reinterpret_cast<const sockaddr_in*>(held)->sin_addr.s_addr));
    }
  }
  return addresses;
}

std::optional<std::vector<std::uint8_t>> SystemMacAddress(std::uint32_t address) {
  if (auto bytes = AdapterMac(address)) return bytes;
  if (auto bytes = ArpTableMac(address)) return bytes;
  return ArpRequestMac(address);
}

}  // namespace orv
