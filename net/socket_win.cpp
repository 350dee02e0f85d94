#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>
#include <mutex>

#include "net/socket_platform.h"

namespace lumora {

bool EnsureWinsock() {
  // call_once keeps the answer of the first call, success or failure; the
  // stack is never shut down.
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] {
    WSADATA data{};
    ready = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  });
  return ready;
}

SocketHandle OpenTcpSocket() { return ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP); }

void CloseSocket(SocketHandle socket) {
  if (socket != kInvalidSocket) {
    ::closesocket(socket);
  }
}

void ShutdownSocket(SocketHandle socket) {
  if (socket != kInvalidSocket) {
    ::shutdown(socket, SD_BOTH);
  }
}

long SendSome(SocketHandle socket, const char* data, std::size_t size) {
  const int chunk = size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
  return ::send(socket, data, chunk, 0);
}

long ReceiveSome(SocketHandle socket, char* data, std::size_t size) {
  const int chunk = size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
  return ::recv(socket, data, chunk, 0);
}

bool SetReceiveTimeout(SocketHandle socket, unsigned milliseconds) {
  const DWORD timeout = milliseconds;
  return ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                      sizeof timeout) == 0;
}

bool SetReuseAddress(SocketHandle socket) {
  const BOOL one = TRUE;
  return ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one) == 0;
}

int LastSocketError() { return WSAGetLastError(); }

bool AcceptFailureEndsLoop(int error) { return error == WSAEINTR || error == WSAENOTSOCK; }

bool ShutdownWakesAccept() { return false; }

}  // namespace lumora
