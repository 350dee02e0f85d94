#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

#include "net/socket_platform.h"

namespace lumora {

bool EnsureWinsock() { return true; }

SocketHandle OpenTcpSocket() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP); }

void CloseSocket(SocketHandle socket) {
  if (socket != kInvalidSocket) {
    ::close(socket);
  }
}

void ShutdownSocket(SocketHandle socket) {
  if (socket != kInvalidSocket) {
    ::shutdown(socket, SHUT_RDWR);
  }
}

long SendSome(SocketHandle socket, const char* data, std::size_t size) {
  ssize_t sent;
  do {
    sent = ::send(socket, data, size, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return static_cast<long>(sent);
}

long ReceiveSome(SocketHandle socket, char* data, std::size_t size) {
  ssize_t received;
  do {
    received = ::recv(socket, data, size, 0);
  } while (received < 0 && errno == EINTR);
  return static_cast<long>(received);
}

bool SetReceiveTimeout(SocketHandle socket, unsigned milliseconds) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(milliseconds / 1000);
  tv.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
  return ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

bool SetReuseAddress(SocketHandle socket) {
  int one = 1;
  return ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0;
}

int LastSocketError() { return errno; }

bool AcceptFailureEndsLoop(int error) { return error == EINVAL || error == EBADF || error == ENOTSOCK; }

bool ShutdownWakesAccept() { return true; }

}  // namespace lumora
