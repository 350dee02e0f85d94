#pragma once

// A TCP port nobody listens on right now, for a program under test to be
// configured with; and a port that another program holds.

#include <chrono>
#include <random>

#include "net/socket_platform.h"

namespace lumora::testing {

// Drawn below the ranges that systems hand out for port 0 and for the local
// end of outgoing connections (Linux from 32768, Windows from 49152): a port
// from there, released again, could be taken by any connection of a test
// running beside this one before the program under test binds it.
inline unsigned FreePort() {
  EnsureWinsock();
  constexpr unsigned kFirst = 20000;
  constexpr unsigned kCount = 12000;
  std::minstd_rand random(static_cast<std::minstd_rand::result_type>(
      std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 200; ++attempt) {
    const unsigned port = kFirst + static_cast<unsigned>(random() % kCount);
    const SocketHandle socket = OpenTcpSocket();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<unsigned short>(port));
    const bool bound = ::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    CloseSocket(socket);
    if (bound) {
      return port;
    }
  }
  return 0;
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
