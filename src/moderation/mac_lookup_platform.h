// What the MAC lookup asks of the system it runs on: one file per system answers it
// (mac_lookup_posix.cpp, mac_lookup_win32.cpp), picked by the build.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace orv {

// The hardware address of the local interface holding address (an IPv4 address in host
// byte order), else of its neighbour-table (ARP) entry; nothing when neither is known.
// Loopback and 0.0.0.0 never reach it.
std::optional<std::vector<std::uint8_t>> SystemMacAddress(std::uint32_t address);

// The IPv4 addresses (host byte order) of the machine's interfaces that are up, loopback
// included, in the system's order.
std::vector<std::uint32_t> SystemIpv4Addresses();

}  // namespace orv
