#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/ipv4.h"

namespace lumora {

// The PC's IPv4 addresses that a phone on the same network can use, as dotted
// decimal text in the platform's order: adapters that are up, minus loopback.
// Computed afresh on each call; every failure gives an empty list.
std::vector<std::string> GetLocalIPv4Addresses();

// One of the PC's addresses with the length of its on-link prefix: the
// network it shares with its neighbours.
struct Ipv4Subnet {
  std::uint32_t address = 0;  // host byte order
  int prefix_length = 0;
};

// One network adapter as the platform reports it.
struct AdapterAddresses {
  // A constructor rather than an aggregate, so that an adapter without
  // subnets is still written {up, loopback, {addresses}}.
  AdapterAddresses() = default;
  AdapterAddresses(bool is_up, bool is_loopback, std::vector<std::string> addresses,
                   std::vector<Ipv4Subnet> address_subnets = {})
      : up(is_up), loopback(is_loopback), ipv4(std::move(addresses)), subnets(std::move(address_subnets)) {}

  bool up = false;
  bool loopback = false;
  std::vector<std::string> ipv4;    // dotted decimal, in the platform's order
  std::vector<Ipv4Subnet> subnets;  // the same addresses with their prefix lengths
};

// The filter behind GetLocalIPv4Addresses: keeps the addresses of adapters
// that are up and not loopback, minus any 127.x address; no sorting, no
// removal of duplicates.
std::vector<std::string> SelectReachableAddresses(const std::vector<AdapterAddresses>& adapters);

// The subnets of the PC's adapters that are up, loopback left out, the prefix
// lengths as the platform reports them. Every failure gives an empty list.
std::vector<Ipv4Subnet> GetLocalIPv4Subnets();
// Its filter: the same rule as SelectReachableAddresses.
std::vector<Ipv4Subnet> SelectReachableSubnets(const std::vector<AdapterAddresses>& adapters);

// Whether a connection from `address` (host byte order) comes from the local
// network: loopback, the private ranges (10/8, 172.16/12, 192.168/16),
// link-local 169.254/16, carrier-grade NAT 100.64/10, or inside one of
// `own_subnets` (some networks hand out public addresses on the LAN). A
// subnet shorter than /8 or longer than /32 is ignored. The unspecified
// 0/8, multicast and reserved addresses are never local.
bool IsLocalNetworkSource(std::uint32_t address, const std::vector<Ipv4Subnet>& own_subnets);

// The hardware address that the PC's neighbour (ARP) table holds for
// `address` (host byte order), as "aa:bb:cc:dd:ee:ff", or empty when there
// is none: not on the link, not resolved yet, loopback, or the table could not
// be read. Only reads the table; never sends an ARP request.
std::string LookupHardwareAddress(std::uint32_t address);

namespace detail {
// The platform's adapter list; false when it cannot be read.
bool ListAdapters(std::vector<AdapterAddresses>& adapters);

// Six bytes as "aa:bb:cc:dd:ee:ff"; empty when all are zero, which is no
// address.
std::string FormatHardwareAddress(const std::uint8_t (&bytes)[6]);

// The hardware address of `address` in the text of Linux's /proc/net/arp;
// empty when the table has no complete entry with a six-byte address for it.
std::string FindHardwareAddressInArpTable(std::string_view table_text, std::uint32_t address);
}  // namespace detail

}  // namespace lumora
