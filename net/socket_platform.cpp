#include <chrono>
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

bool TakeUrgentDataInline(SocketHandle socket) {
  // An int on both: Winsock's BOOL is one.
  const int one = 1;
  return ::setsockopt(socket, SOL_SOCKET, SO_OOBINLINE, reinterpret_cast<const char*>(&one), sizeof one) == 0;
}

bool SocketWake::Open() {
  woken_.store(false);
  if (!OpenEvent()) {
    return false;
  }
  socket_.Reset(OpenUdpSocket());
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  SockLen size = sizeof address;
  // Connected to itself, it takes datagrams from no other socket.
  if (!socket_.valid() || ::bind(socket_.get(), reinterpret_cast<const sockaddr*>(&address), size) != 0 ||
      ::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
      ::connect(socket_.get(), reinterpret_cast<const sockaddr*>(&address), size) != 0) {
    socket_.Reset();
    return false;
  }
  return true;
}

void SocketWake::Wake() {
  // The flag first: a waiter that finds the datagram finds the flag. A send
  // that fails leaves the waiter asleep only if nothing is queued, which a
  // full receive buffer is not.
  woken_.store(true);
  SignalEvent();
  const char byte = 1;
  SendSome(socket_.get(), &byte, 1);
}

SocketWait WaitForSocket(SocketHandle socket, SocketDirection direction, int timeout_ms,
                         const SocketWake& wake) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (wake.woken()) {
      return SocketWait::Stopped;
    }
    int left = -1;
    if (timeout_ms >= 0) {
      const auto rest =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      left = rest > 0 ? static_cast<int>(rest) : 0;
    }
    switch (PollSocket(socket, direction, wake.handle(), left)) {
      case SocketPoll::Ready:
        return wake.woken() ? SocketWait::Stopped : SocketWait::Ready;
      case SocketPoll::Woken:
        return SocketWait::Stopped;
      case SocketPoll::Nothing:
        break;
    }
    if (timeout_ms >= 0 && Clock::now() >= deadline) {
      return SocketWait::TimedOut;
    }
  }
}

}  // namespace lumora
