#include <string>

#include "net/socket_platform.h"

namespace lumora {

std::string FormatPeerAddress(const sockaddr_in& address) {
  char text[22] = {};
  if (::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text) == nullptr) {
    text[0] = '\0';
  }
  return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

}  // namespace lumora
