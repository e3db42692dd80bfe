// The hardware address that belongs to an IPv4 address, formatted "00:1A:2B:3C:4D:5E".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// The MAC of the local interface holding the address, else its neighbour (ARP) table
// entry; the argument unchanged when nothing is found (loopback counts as nothing).
std::string LookupMacAddress(const std::string& ip);

// The addresses clients on other machines can reach this machine at (dotted IPv4, loopback
// and link-local left out); 127.0.0.1 when it has none.
std::vector<std::string> MachineAddresses();

// The formatted MAC of ip's complete entry in a table laid out like /proc/net/arp (a
// heading line, then address, type, flags, hardware address, ...); empty when none.
std::string LookupMacInArpTable(std::string_view table, const std::string& ip);

// "%02X:" between bytes, "%02X" for the last; empty for no bytes.
std::string FormatMacBytes(const std::vector<std::uint8_t>& bytes);

// A dotted IPv4 address as inet_pton reads it (four numbers 0..255, no leading zeros),
// in host byte order; nothing for any other text.
std::optional<std::uint32_t> ParseIpv4Text(std::string_view text);

// A hardware address written "aa:bb:cc:dd:ee:ff" (either case, one to eight bytes).
std::optional<std::vector<std::uint8_t>> ParseMacText(std::string_view text);

}  // namespace orv
