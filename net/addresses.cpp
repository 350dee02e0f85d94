#include "net/addresses.h"

#include "net/socket_platform.h"

namespace lumora {

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

}  // namespace lumora
