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

bool ParseIpv4(std::string_view text, std::uint32_t& address) {
  std::uint32_t result = 0;
  std::size_t pos = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (pos >= text.size() || text[pos] != '.') {
        return false;
      }
      ++pos;
    }
    const std::size_t start = pos;
    std::uint32_t value = 0;
    while (pos < text.size() && pos - start < 3 && text[pos] >= '0' && text[pos] <= '9') {
      value = value * 10 + static_cast<std::uint32_t>(text[pos] - '0');
      ++pos;
    }
    const std::size_t digits = pos - start;
    if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) {
      return false;
    }
    result = result << 8 | value;
  }
  if (pos != text.size()) {
    return false;
  }
  address = result;
  return true;
}

}  // namespace lumora
