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

// What an adapter is, from its driver's description, its name and its
// interface type. Only Ethernet, WiFi and Other are the PC's own link to a
// network; the rest lead to virtual machines, containers, a VPN or a paired
// Bluetooth device, where a phone on the user's Wi-Fi is seldom found.
enum class AdapterKind {
  Ethernet,
  WiFi,
  Other,   // real but neither: a USB modem, a FireWire link
  HyperV,  // Hyper-V and WSL vEthernet switches
  VirtualBox,
  VMware,
  Tunnel,  // a VPN: TAP, TUN, Wintun, WireGuard, PPP and the like
  BluetoothPan,
  Docker,  // a container or virtual machine bridge (Docker, libvirt, LXC)
};

// HyperV to Docker: an adapter that is not the PC's own link to a network.
bool IsVirtualKind(AdapterKind kind);

// The kind of an adapter with the IANA interface type `if_type` (6 Ethernet,
// 71 IEEE 802.11, 23 PPP, 53 proprietary virtual, 131 tunnel; 0 when
// unknown). The words of `description` and `name` (compared without regard
// to ASCII case) decide before the type, because virtual switches and VPN
// adapters call themselves Ethernet: Windows passes the adapter's
// description and friendly name, Linux an empty description and the
// interface name, whose customary prefixes ("docker0", "br-<hex>", "virbr",
// "veth", "vboxnet", "vmnet", "tun", "tap", "wg", "zt", "ppp", "bnep") count
// as well.
AdapterKind ClassifyAdapter(std::uint32_t if_type, std::string_view description, std::string_view name);

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
  AdapterKind kind = AdapterKind::Other;
  bool has_gateway = false;        // carries an IPv4 default route (a gateway other than 0.0.0.0 on Windows)
  std::uint32_t route_metric = 0;  // lower is preferred: Windows' Ipv4Metric, Linux's default route metric
  std::string id;                  // Windows: AdapterName, the "{GUID}" text; Linux: the interface name
  std::string name;                // what the user knows it by, UTF-8: "WLAN", "vEthernet (WSL)", "wlan0"
};

// One of the PC's addresses as the user is shown it.
struct ShownAddress {
  std::string address;  // dotted decimal
  AdapterKind kind = AdapterKind::Other;
  bool recommended = false;  // the one to type on the phone; at most one in a list, always first
  bool link_local = false;   // 169.254/16: the adapter got no address from its network
  std::string adapter_id;    // AdapterAddresses::id of its adapter
  std::string adapter_name;  // AdapterAddresses::name of its adapter
};

// The addresses SelectReachableAddresses keeps, none dropped, ordered for
// the user: first the recommended one, the first address that is not
// link-local of the real adapter that carries the default route with the
// lowest metric (on a tie, the first in platform order), or, where no real
// adapter has a gateway (a LAN without a router), of the first real adapter
// with such an address; then the other real addresses that are not
// link-local, then those of virtual adapters, then every link-local one, each
// group in platform order. A virtual adapter is never recommended.
std::vector<ShownAddress> RankAddresses(const std::vector<AdapterAddresses>& adapters);

// The PC's addresses, ranked. Computed afresh on each call; every failure
// gives an empty list.
std::vector<ShownAddress> GetRankedAddresses();

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

// A default route (destination and mask 0.0.0.0) that is up in Linux's
// /proc/net/route.
struct DefaultRoute {
  std::string interface_name;
  std::uint32_t metric = 0;
};
// The default routes in the text of /proc/net/route, in table order.
std::vector<DefaultRoute> FindDefaultRoutes(std::string_view table_text);

// The hardware address of `address` in the text of Linux's /proc/net/arp;
// empty when the table has no complete entry with a six-byte address for it.
std::string FindHardwareAddressInArpTable(std::string_view table_text, std::uint32_t address);
}  // namespace detail

}  // namespace lumora
