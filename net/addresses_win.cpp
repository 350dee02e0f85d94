#include <winsock2.h>
#include <ws2tcpip.h>
// iphlpapi.h needs the Winsock headers first.
#include <iphlpapi.h>

#include <vector>

#include "net/addresses.h"

namespace lumora {
namespace detail {

bool ListAdapters(std::vector<AdapterAddresses>& adapters) {
  adapters.clear();
  constexpr ULONG kFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
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

}  // namespace lumora
