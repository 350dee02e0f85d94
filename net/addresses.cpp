#include "net/addresses.h"

#include <algorithm>
#include <charconv>

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

}  // namespace

std::vector<std::string> SelectReachableAddresses(const std::vector<AdapterAddresses>& adapters) {
  std::vector<std::string> result;
  for (const AdapterAddresses& adapter : adapters) {
    if (!adapter.up || adapter.loopback) {
      continue;
    }
    for (const std::string& address : adapter.ipv4) {
      // A loopback address can sit on an ordinary adapter too.
      if (address.rfind("127.", 0) != 0) {
        result.push_back(address);
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

}  // namespace

std::string FindHardwareAddressInArpTable(std::string_view table_text, std::uint32_t address) {
  // Each line after the heading: "IP address  HW type  Flags  HW address
  // Mask  Device". Flag 0x2 (ATF_COM) marks an entry that is resolved; an
  // entry still waiting for its answer has flags 0x0 and a zero address.
  constexpr unsigned kComplete = 0x2;
  while (!table_text.empty()) {
    const std::size_t end = std::min(table_text.find('\n'), table_text.size());
    const std::string_view line = table_text.substr(0, end);
    table_text.remove_prefix(std::min(end + 1, table_text.size()));

    const std::vector<std::string_view> fields = SplitFields(line, 4);
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
