#include "net/addresses.h"

#include <algorithm>
#include <charconv>
#include <initializer_list>

#include "net/socket_platform.h"

namespace lumora {
namespace {

bool InPrefix(std::uint32_t address, std::uint32_t network, int prefix_length) {
  const std::uint32_t mask = prefix_length == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix_length);
  return (address & mask) == (network & mask);
}

constexpr std::uint32_t Ipv4(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  return a << 24 | b << 16 | c << 8 | d;
}

struct Range {
  std::uint32_t network;
  int prefix_length;
};

// The ranges a phone on the same Wi-Fi can come from, whatever the PC's own
// subnets: loopback, RFC 1918, link-local, and carrier-grade NAT (which some
// routers and hotspots use for the LAN).
constexpr Range kLocalRanges[] = {
    {Ipv4(127, 0, 0, 0), 8},    {Ipv4(10, 0, 0, 0), 8},     {Ipv4(172, 16, 0, 0), 12},
    {Ipv4(192, 168, 0, 0), 16}, {Ipv4(169, 254, 0, 0), 16}, {Ipv4(100, 64, 0, 0), 10},
};

// Never a phone, even inside a subnet the adapters report: "this network",
// multicast, and the reserved block with the broadcast address.
constexpr Range kNeverSources[] = {
    {Ipv4(0, 0, 0, 0), 8},
    {Ipv4(224, 0, 0, 0), 4},
    {Ipv4(240, 0, 0, 0), 4},
};

// No adapter's own link is wider than a /8; a shorter prefix (a /0 from a
// VPN or a misreporting driver, say) would let the whole internet in.
constexpr int kShortestOwnPrefix = 8;

// IANA interface types that ClassifyAdapter reads.
constexpr std::uint32_t kIfTypeEthernet = 6;
constexpr std::uint32_t kIfTypePpp = 23;
constexpr std::uint32_t kIfTypePropVirtual = 53;
constexpr std::uint32_t kIfTypeWifi = 71;
constexpr std::uint32_t kIfTypeTunnel = 131;

std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return lower;
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// A loopback address can sit on an ordinary adapter too.
bool IsLoopbackText(const std::string& address) { return address.rfind("127.", 0) == 0; }

bool IsLinkLocalText(const std::string& address) { return address.rfind("169.254.", 0) == 0; }

bool IsReachableAdapter(const AdapterAddresses& adapter) { return adapter.up && !adapter.loopback; }

// The address a phone on the adapter's network would use: its first one that
// is neither loopback nor link-local; null when it has none.
const std::string* FirstRoutableAddress(const AdapterAddresses& adapter) {
  for (const std::string& address : adapter.ipv4) {
    if (!IsLoopbackText(address) && !IsLinkLocalText(address)) {
      return &address;
    }
  }
  return nullptr;
}

// The address to recommend, as a pointer into `adapters` so that the same
// text on another adapter stays in the list; null when there is none.
const std::string* PickRecommended(const std::vector<AdapterAddresses>& adapters) {
  const AdapterAddresses* best = nullptr;
  const AdapterAddresses* first_real = nullptr;
  for (const AdapterAddresses& adapter : adapters) {
    if (!IsReachableAdapter(adapter) || IsVirtualKind(adapter.kind) ||
        FirstRoutableAddress(adapter) == nullptr) {
      continue;
    }
    if (first_real == nullptr) {
      first_real = &adapter;
    }
    // Strictly lower: on a tie the adapter the platform lists first wins.
    if (adapter.has_gateway && (best == nullptr || adapter.route_metric < best->route_metric)) {
      best = &adapter;
    }
  }
  if (best == nullptr) {
    best = first_real;
  }
  return best != nullptr ? FirstRoutableAddress(*best) : nullptr;
}

}  // namespace

bool IsVirtualKind(AdapterKind kind) {
  switch (kind) {
    case AdapterKind::Ethernet:
    case AdapterKind::WiFi:
    case AdapterKind::Other:
      return false;
    case AdapterKind::HyperV:
    case AdapterKind::VirtualBox:
    case AdapterKind::VMware:
    case AdapterKind::Tunnel:
    case AdapterKind::BluetoothPan:
    case AdapterKind::Docker:
      return true;
  }
  return false;
}

AdapterKind ClassifyAdapter(std::uint32_t if_type, std::string_view description, std::string_view name) {
  const std::string lower_description = AsciiLower(description);
  const std::string lower_name = AsciiLower(name);
  const auto mentions = [&](std::string_view word) {
    return lower_description.find(word) != std::string::npos || lower_name.find(word) != std::string::npos;
  };
  const auto named = [&](std::initializer_list<std::string_view> prefixes) {
    for (const std::string_view prefix : prefixes) {
      if (lower_name.rfind(prefix, 0) == 0) {
        return true;
      }
    }
    return false;
  };
  // A Docker network's bridge is "br-" and the network id's first hex
  // digits; a bridge the user made ("br0") is the PC's own link.
  const bool docker_bridge =
      lower_name.size() > 3 && named({"br-"}) &&
      std::all_of(lower_name.begin() + 3, lower_name.end(), [](char c) { return IsHexDigit(c); });
  // Docker Desktop's switch is a Hyper-V one ("vEthernet (DockerNAT)"): the
  // more telling word is checked first.
  if (mentions("docker") || docker_bridge) {
    return AdapterKind::Docker;
  }
  if (mentions("hyper-v") || named({"vethernet"})) {
    return AdapterKind::HyperV;
  }
  if (mentions("virtualbox") || named({"vboxnet"})) {
    return AdapterKind::VirtualBox;
  }
  if (mentions("vmware") || named({"vmnet"})) {
    return AdapterKind::VMware;
  }
  if (mentions("bluetooth") || named({"bnep"})) {
    return AdapterKind::BluetoothPan;
  }
  // "vpn" and "anyconnect" catch the corporate clients whose adapters call
  // themselves "... SSL VPN Virtual Ethernet Adapter" and type 6.
  for (const std::string_view word :
       {"tap-", "wintun", "wireguard", "openvpn", "tailscale", "zerotier", "vpn", "anyconnect"}) {
    if (mentions(word)) {
      return AdapterKind::Tunnel;
    }
  }
  if (named({"tun", "tap", "wg", "zt", "ppp"}) || if_type == kIfTypeTunnel || if_type == kIfTypePpp ||
      if_type == kIfTypePropVirtual) {
    return AdapterKind::Tunnel;
  }
  // Checked after Hyper-V's "vEthernet", which starts with "veth" too.
  if (named({"virbr", "veth", "lxcbr", "lxdbr"})) {
    return AdapterKind::Docker;
  }
  if (if_type == kIfTypeWifi) {
    return AdapterKind::WiFi;
  }
  if (if_type == kIfTypeEthernet) {
    return AdapterKind::Ethernet;
  }
  return AdapterKind::Other;
}

std::vector<std::string> SelectReachableAddresses(const std::vector<AdapterAddresses>& adapters) {
  std::vector<std::string> result;
  for (const AdapterAddresses& adapter : adapters) {
    if (!adapter.up || adapter.loopback) {
      continue;
    }
    for (const std::string& address : adapter.ipv4) {
      if (!IsLoopbackText(address)) {
        result.push_back(address);
      }
    }
  }
  return result;
}

std::vector<ShownAddress> RankAddresses(const std::vector<AdapterAddresses>& adapters) {
  const std::string* recommended = PickRecommended(adapters);
  std::vector<ShownAddress> result;
  // The groups in the order shown; each pass walks the adapters in platform
  // order, so nothing moves within a group.
  enum class Group { Recommended, Real, Virtual, LinkLocal };
  for (const Group group : {Group::Recommended, Group::Real, Group::Virtual, Group::LinkLocal}) {
    for (const AdapterAddresses& adapter : adapters) {
      if (!IsReachableAdapter(adapter)) {
        continue;
      }
      for (const std::string& address : adapter.ipv4) {
        if (IsLoopbackText(address)) {
          continue;
        }
        const bool is_recommended = &address == recommended;
        Group belongs = IsVirtualKind(adapter.kind) ? Group::Virtual : Group::Real;
        if (is_recommended) {
          belongs = Group::Recommended;
        } else if (IsLinkLocalText(address)) {
          belongs = Group::LinkLocal;
        }
        if (belongs == group) {
          result.push_back(
              {address, adapter.kind, is_recommended, IsLinkLocalText(address), adapter.id, adapter.name});
        }
      }
    }
  }
  return result;
}

std::vector<Ipv4Subnet> SelectReachableSubnets(const std::vector<AdapterAddresses>& adapters) {
  std::vector<Ipv4Subnet> result;
  for (const AdapterAddresses& adapter : adapters) {
    if (!adapter.up || adapter.loopback) {
      continue;
    }
    for (const Ipv4Subnet& subnet : adapter.subnets) {
      if (!InPrefix(subnet.address, Ipv4(127, 0, 0, 0), 8)) {
        result.push_back(subnet);
      }
    }
  }
  return result;
}

std::vector<std::string> GetLocalIPv4Addresses() {
  if (!EnsureWinsock()) {
    return {};
  }
  std::vector<AdapterAddresses> adapters;
  if (!detail::ListAdapters(adapters)) {
    return {};
  }
  return SelectReachableAddresses(adapters);
}

std::vector<ShownAddress> GetRankedAddresses() {
  if (!EnsureWinsock()) {
    return {};
  }
  std::vector<AdapterAddresses> adapters;
  if (!detail::ListAdapters(adapters)) {
    return {};
  }
  return RankAddresses(adapters);
}

std::vector<Ipv4Subnet> GetLocalIPv4Subnets() {
  if (!EnsureWinsock()) {
    return {};
  }
  std::vector<AdapterAddresses> adapters;
  if (!detail::ListAdapters(adapters)) {
    return {};
  }
  return SelectReachableSubnets(adapters);
}

bool IsLocalNetworkSource(std::uint32_t address, const std::vector<Ipv4Subnet>& own_subnets) {
  for (const Range& range : kNeverSources) {
    if (InPrefix(address, range.network, range.prefix_length)) {
      return false;
    }
  }
  for (const Range& range : kLocalRanges) {
    if (InPrefix(address, range.network, range.prefix_length)) {
      return true;
    }
  }
  for (const Ipv4Subnet& subnet : own_subnets) {
    if (subnet.prefix_length >= kShortestOwnPrefix && subnet.prefix_length <= 32 &&
        InPrefix(address, subnet.address, subnet.prefix_length)) {
      return true;
    }
  }
  return false;
}

namespace detail {

std::string FormatHardwareAddress(const std::uint8_t (&bytes)[6]) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  bool any = false;
  for (const std::uint8_t byte : bytes) {
    if (!text.empty()) {
      text += ':';
    }
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0f];
    any = any || byte != 0;
  }
  return any ? text : std::string();
}

namespace {

// The fields of one line, split at blanks; at most `count`.
std::vector<std::string_view> SplitFields(std::string_view line, std::size_t count) {
  std::vector<std::string_view> fields;
  std::size_t pos = 0;
  while (fields.size() < count) {
    pos = line.find_first_not_of(" \t\r", pos);
    if (pos == std::string_view::npos) {
      break;
    }
    const std::size_t end = std::min(line.find_first_of(" \t\r", pos), line.size());
    fields.push_back(line.substr(pos, end - pos));
    pos = end;
  }
  return fields;
}

bool ParseHex(std::string_view text, unsigned& value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, 16);
  return !text.empty() && error == std::errc() && stop == end;
}

bool ParseDecimal(std::string_view text, std::uint32_t& value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return !text.empty() && error == std::errc() && stop == end;
}

// "AA:bb:0c:..." to six bytes: exactly two hex digits per byte.
bool ParseHardwareAddress(std::string_view text, std::uint8_t (&bytes)[6]) {
  if (text.size() != 17) {
    return false;
  }
  for (std::size_t i = 0; i < 6; ++i) {
    unsigned value = 0;
    if ((i > 0 && text[i * 3 - 1] != ':') || !ParseHex(text.substr(i * 3, 2), value)) {
      return false;
    }
    bytes[i] = static_cast<std::uint8_t>(value);
  }
  return true;
}

// The text up to the next line feed, removed from `text` with the line feed.
std::string_view TakeLine(std::string_view& text) {
  const std::size_t end = std::min(text.find('\n'), text.size());
  const std::string_view line = text.substr(0, end);
  text.remove_prefix(std::min(end + 1, text.size()));
  return line;
}

}  // namespace

// Each line after the heading: "Iface  Destination  Gateway  Flags  RefCnt
// Use  Metric  Mask ...", addresses and flags in hex, the metric in decimal.
std::vector<DefaultRoute> FindDefaultRoutes(std::string_view table_text) {
  constexpr unsigned kRouteUp = 0x1;  // RTF_UP: a route being withdrawn lacks it
  std::vector<DefaultRoute> routes;
  while (!table_text.empty()) {
    const std::vector<std::string_view> fields = SplitFields(TakeLine(table_text), 8);
    unsigned destination = 1;
    unsigned flags = 0;
    unsigned mask = 1;
    std::uint32_t metric = 0;
    if (fields.size() < 8 || !ParseHex(fields[1], destination) || !ParseHex(fields[3], flags) ||
        !ParseHex(fields[7], mask) || !ParseDecimal(fields[6], metric)) {
      continue;
    }
    // Destination 0 with a mask other than 0 is no default route: VPN
    // clients cover the internet with 0.0.0.0/1 and 128.0.0.0/1 instead.
    if (destination == 0 && mask == 0 && (flags & kRouteUp) != 0) {
      routes.push_back({std::string(fields[0]), metric});
    }
  }
  return routes;
}

std::string FindHardwareAddressInArpTable(std::string_view table_text, std::uint32_t address) {
  // Each line after the heading: "IP address  HW type  Flags  HW address
  // Mask  Device". Flag 0x2 (ATF_COM) marks an entry that is resolved; an
  // entry still waiting for its answer has flags 0x0 and a zero address.
  constexpr unsigned kComplete = 0x2;
  while (!table_text.empty()) {
    const std::vector<std::string_view> fields = SplitFields(TakeLine(table_text), 4);
    std::uint32_t entry = 0;
    unsigned flags = 0;
    std::uint8_t bytes[6] = {};
    if (fields.size() < 4 || !ParseIpv4(fields[0], entry) || entry != address ||
        fields[2].substr(0, 2) != "0x" || !ParseHex(fields[2].substr(2), flags) || (flags & kComplete) == 0 ||
        !ParseHardwareAddress(fields[3], bytes)) {
      continue;
    }
    // The same address can be listed once per interface; the first usable
    // entry answers.
    std::string text = FormatHardwareAddress(bytes);
    if (!text.empty()) {
      return text;
    }
  }
  return {};
}

}  // namespace detail

}  // namespace lumora
