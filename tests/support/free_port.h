#pragma once

// A TCP port nobody listens on right now, for a program under test to be
// configured with: bound to port 0, read back, released. And a port that
// another program holds.

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

// Listens on a free port of every interface while it lives, as another
// program in the way would; held() is false if that failed.
class HeldPort {
 public:
  HeldPort() : port_(FreePort()), socket_(OpenTcpSocket()) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<unsigned short>(port_));
    held_ = ::bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
            ::listen(socket_, 1) == 0;
  }
  ~HeldPort() { CloseSocket(socket_); }
  HeldPort(const HeldPort&) = delete;
  HeldPort& operator=(const HeldPort&) = delete;

  unsigned port() const { return port_; }
  bool held() const { return held_; }

 private:
  unsigned port_;
  SocketHandle socket_;
  bool held_ = false;
};

}  // namespace lumora::testing
