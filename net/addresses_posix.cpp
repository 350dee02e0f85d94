#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "net/addresses.h"

namespace lumora {
namespace {

// The leading one bits of a netmask; 0 when there is none.
int PrefixLength(const sockaddr* netmask) {
  if (netmask == nullptr || netmask->sa_family != AF_INET) {
    return 0;
  }
  std::uint32_t mask = ntohl(reinterpret_cast<const sockaddr_in*>(netmask)->sin_addr.s_addr);
  int length = 0;
  while ((mask & 0x80000000u) != 0) {
    ++length;
    mask <<= 1;
  }
  return length;
}

}  // namespace

namespace detail {

bool ListAdapters(std::vector<AdapterAddresses>& adapters) {
  adapters.clear();
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) {
    return false;
  }
  // getifaddrs gives one entry per interface and address, in the kernel's
  // order; each IPv4 entry becomes an adapter of one address. "Up" means
  // administratively up with a carrier, as Windows' operational status does.
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) {
      continue;
    }
    AdapterAddresses adapter;
    adapter.up = (entry->ifa_flags & IFF_UP) != 0 && (entry->ifa_flags & IFF_RUNNING) != 0;
    adapter.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
    char text[22] = {};
    const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    if (inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text) != nullptr) {
      adapter.ipv4.emplace_back(text);
      adapter.subnets.push_back({ntohl(ipv4->sin_addr.s_addr), PrefixLength(entry->ifa_netmask)});
    }
    adapters.push_back(std::move(adapter));
  }
  freeifaddrs(list);
  return true;
}

}  // namespace detail

std::string LookupHardwareAddress(std::uint32_t address) {
  // The kernel's neighbour table as text; its size reads as 0, so it is read
  // to its end rather than by size.
  std::ifstream file("/proc/net/arp");
  if (!file) {
    return {};
  }
  const std::string table((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  return detail::FindHardwareAddressInArpTable(table, address);
}

}  // namespace lumora
