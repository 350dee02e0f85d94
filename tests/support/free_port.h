#pragma once

// A TCP port nobody listens on right now, for a program under test to be
// configured with: bound to port 0, read back, released.

#include "net/socket_platform.h"

namespace lumora::testing {

inline unsigned FreePort() {
  EnsureWinsock();
  const SocketHandle socket = OpenTcpSocket();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  SockLen size = sizeof address;
  ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size);
  CloseSocket(socket);
  return ntohs(address.sin_port);
}

}  // namespace lumora::testing
