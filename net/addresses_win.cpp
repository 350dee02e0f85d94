#include <winsock2.h>
#include <ws2tcpip.h>
// iphlpapi.h needs the Winsock headers first.
#include <iphlpapi.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/win32_util_win.h"
#include "net/addresses.h"

namespace lumora {
namespace {

// Null, as a driver may leave a name, is no name.
std::string NameText(const wchar_t* text) { return text != nullptr ? WideToUtf8(text) : std::string(); }

// Whether the adapter has an IPv4 gateway other than 0.0.0.0, which some
// drivers list for a link without one.
bool HasIpv4Gateway(const IP_ADAPTER_ADDRESSES& adapter) {
  for (const IP_ADAPTER_GATEWAY_ADDRESS_LH* gateway = adapter.FirstGatewayAddress; gateway != nullptr;
       gateway = gateway->Next) {
    const sockaddr* address = gateway->Address.lpSockaddr;
    if (address != nullptr && address->sa_family == AF_INET &&
        reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr != 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

namespace detail {

bool ListAdapters(std::vector<AdapterAddresses>& adapters) {
  adapters.clear();
  constexpr ULONG kFlags =
      GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_INCLUDE_GATEWAYS;
  ULONG size = 16384;
  std::vector<unsigned char> buffer(size);
  ULONG result = ERROR_BUFFER_OVERFLOW;
  // The adapter list can grow between the query that measures it and the
  // one that fills it: three tries in all.
  for (int attempt = 0; attempt < 3; ++attempt) {
    buffer.resize(size);
    result = GetAdaptersAddresses(AF_INET, kFlags, nullptr,
                                  reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    if (result != ERROR_BUFFER_OVERFLOW) {
      break;
    }
  }
  if (result != NO_ERROR) {
    return false;
  }
  for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
       adapter = adapter->Next) {
    AdapterAddresses entry;
    entry.up = adapter->OperStatus == IfOperStatusUp;
    entry.loopback = adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
    entry.has_gateway = HasIpv4Gateway(*adapter);
    entry.route_metric = adapter->Ipv4Metric;
    entry.id = adapter->AdapterName != nullptr ? adapter->AdapterName : "";
    const std::string description = NameText(adapter->Description);
    entry.name = NameText(adapter->FriendlyName);
    // The user sees the name; an adapter without one is still told apart.
    if (entry.name.empty()) {
      entry.name = description;
    }
    entry.kind = ClassifyAdapter(adapter->IfType, description, entry.name);
    for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
      const sockaddr* address = unicast->Address.lpSockaddr;
      if (address == nullptr || address->sa_family != AF_INET) {
        continue;
      }
      char text[22] = {};
      const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address);
      if (inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text) != nullptr) {
        entry.ipv4.emplace_back(text);
        entry.subnets.push_back({ntohl(ipv4->sin_addr.s_addr), unicast->OnLinkPrefixLength});
      }
    }
    adapters.push_back(std::move(entry));
  }
  return true;
}

}  // namespace detail

namespace {

// Owns a table from GetIpNetTable2, which only FreeMibTable may free.
struct MibTableFree {
  void operator()(MIB_IPNET_TABLE2* table) const { FreeMibTable(table); }
};
using MibNeighbourTable = std::unique_ptr<MIB_IPNET_TABLE2, MibTableFree>;

// States in which the entry holds the neighbour's address; an incomplete or
// unreachable entry holds none worth reporting.
bool HoldsHardwareAddress(NL_NEIGHBOR_STATE state) {
  return state == NlnsProbe || state == NlnsDelay || state == NlnsStale || state == NlnsReachable ||
         state == NlnsPermanent;
}

}  // namespace

std::string LookupHardwareAddress(std::uint32_t address) {
  // The table as it stands: ResolveIpNetEntry2 would send ARP requests and
  // block until they are answered or time out.
  MIB_IPNET_TABLE2* raw = nullptr;
  if (GetIpNetTable2(AF_INET, &raw) != NO_ERROR) {
    return {};
  }
  const MibNeighbourTable table(raw);
  const ULONG wanted = htonl(address);
  for (ULONG i = 0; i < table->NumEntries; ++i) {
    const MIB_IPNET_ROW2& row = table->Table[i];
    if (row.Address.si_family != AF_INET || row.Address.Ipv4.sin_addr.s_addr != wanted ||
        !HoldsHardwareAddress(row.State) || row.PhysicalAddressLength != 6) {
      continue;
    }
    std::uint8_t bytes[6] = {};
    std::copy(row.PhysicalAddress, row.PhysicalAddress + 6, bytes);
    // The same address can be listed once per interface; the first usable
    // entry answers.
    std::string text = detail::FormatHardwareAddress(bytes);
    if (!text.empty()) {
      return text;
    }
  }
  return {};
}

}  // namespace lumora
