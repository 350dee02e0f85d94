#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumora {

// The PC's IPv4 addresses that a phone on the same network can use, as dotted
// decimal text in the platform's order: adapters that are up, minus loopback.
// Computed afresh on each call; every failure gives an empty list.
std::vector<std::string> GetLocalIPv4Addresses();

// One network adapter as the platform reports it.
struct AdapterAddresses {
  bool up = false;
  bool loopback = false;
  std::vector<std::string> ipv4;  // dotted decimal, in the platform's order
};

// The filter behind GetLocalIPv4Addresses: keeps the addresses of adapters
// that are up and not loopback, minus any 127.x address; no sorting, no
// removal of duplicates.
std::vector<std::string> SelectReachableAddresses(const std::vector<AdapterAddresses>& adapters);

// Strict dotted decimal ("192.168.1.20": four numbers 0 to 255, no leading
// zeros, which some parsers read as octal, nothing around them) to host byte
// order. `address` is left alone when `text` is not one.
bool ParseIpv4(std::string_view text, std::uint32_t& address);

namespace detail {
// The platform's adapter list; false when it cannot be read.
bool ListAdapters(std::vector<AdapterAddresses>& adapters);
}  // namespace detail

}  // namespace lumora
