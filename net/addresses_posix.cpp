#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <sys/stat.h>

#include <charconv>
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

// A whole file of the kernel's; empty when it cannot be read. Files under
// /proc report size 0, so they are read to their end rather than by size.
std::string ReadKernelFile(const std::string& path) {
  std::ifstream file(path);
  if (!file) {
    return {};
  }
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

// The IANA interface type of `device` (0 when unknown), from the hardware
// type Linux reports in /sys/class/net.
std::uint32_t InterfaceType(const std::string& device) {
  // The name becomes part of a path: nothing that could leave the folder.
  if (device.empty() || device == "." || device == ".." || device.find('/') != std::string::npos) {
    return 0;
  }
  const std::string folder = "/sys/class/net/" + device;
  const std::string text = ReadKernelFile(folder + "/type");
  unsigned hardware_type = 0;
  const char* end = text.data() + text.size();
  if (std::from_chars(text.data(), end, hardware_type).ec != std::errc()) {
    return 0;
  }
  switch (hardware_type) {
    case ARPHRD_ETHER:
      // Wi-Fi looks like Ethernet to the stack; its drivers add these entries.
      return Exists(folder + "/wireless") || Exists(folder + "/phy80211") ? 71 : 6;
    case ARPHRD_LOOPBACK:
      return 24;
    case ARPHRD_PPP:
      return 23;
    case ARPHRD_TUNNEL:
    case ARPHRD_TUNNEL6:
    case ARPHRD_SIT:
    case ARPHRD_IPGRE:
      return 131;
    default:
      // Also ARPHRD_NONE, which tun and WireGuard devices share with USB
      // modems in raw-IP mode: their names tell them apart, not the type.
      return 0;
  }
}

}  // namespace

namespace detail {

bool ListAdapters(std::vector<AdapterAddresses>& adapters) {
  adapters.clear();
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) {
    return false;
  }
  // Without the routing table no adapter has a gateway, and the ranking
  // still recommends the first real one.
  const std::vector<DefaultRoute> routes = FindDefaultRoutes(ReadKernelFile("/proc/net/route"));
  // getifaddrs gives one entry per interface and address, in the kernel's
  // order; the IPv4 entries of one device make one adapter. "Up" means
  // administratively up with a carrier, as Windows' operational status does.
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET || entry->ifa_name == nullptr) {
      continue;
    }
    // An address with a label ("eth0:1") belongs to the device before the
    // colon, which is the name sysfs and the routing table know.
    std::string device = entry->ifa_name;
    device = device.substr(0, device.find(':'));
    AdapterAddresses* adapter = nullptr;
    for (AdapterAddresses& known : adapters) {
      if (known.id == device) {
        adapter = &known;
        break;
      }
    }
    if (adapter == nullptr) {
      adapter = &adapters.emplace_back();
      adapter->up = (entry->ifa_flags & IFF_UP) != 0 && (entry->ifa_flags & IFF_RUNNING) != 0;
      adapter->loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
      adapter->kind = ClassifyAdapter(InterfaceType(device), "", device);
      adapter->id = device;
      adapter->name = device;
      for (const DefaultRoute& route : routes) {
        if (route.interface_name == device &&
            (!adapter->has_gateway || route.metric < adapter->route_metric)) {
          adapter->has_gateway = true;
          adapter->route_metric = route.metric;
        }
      }
    }
    char text[22] = {};
    const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    if (inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text) != nullptr) {
      adapter->ipv4.emplace_back(text);
      adapter->subnets.push_back({ntohl(ipv4->sin_addr.s_addr), PrefixLength(entry->ifa_netmask)});
    }
  }
  freeifaddrs(list);
  return true;
}

}  // namespace detail

std::string LookupHardwareAddress(std::uint32_t address) {
  // An unreadable table reads as empty, which holds no entry.
  return detail::FindHardwareAddressInArpTable(ReadKernelFile("/proc/net/arp"), address);
}

}  // namespace lumora
