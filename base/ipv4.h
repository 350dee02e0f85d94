#pragma once

// IPv4 addresses as text, the one way every layer reads and writes them.
// Portable and header-only.

#include <cstdint>
#include <string>
#include <string_view>

namespace lumora {

// Strict dotted decimal ("192.168.1.20": four numbers 0 to 255, no leading
// zeros, which some parsers read as octal, nothing around them) to host byte
// order. `address` is left alone when `text` is not one.
inline bool ParseIpv4(std::string_view text, std::uint32_t& address) {
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

// Host byte order to dotted decimal.
inline std::string FormatIpv4(std::uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
         std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

}  // namespace lumora
