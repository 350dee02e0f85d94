#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <string>
#include <system_error>

#include "net/socket_platform.h"

namespace lumora {

bool EnsureWinsock() { return true; }

// poll and the wake socket are all it takes here.
bool SocketWake::OpenEvent() { return true; }
void SocketWake::SignalEvent() {}

SocketHandle OpenTcpSocket() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP); }

SocketHandle OpenUdpSocket() { return ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP); }

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

SocketWait SendOrWake(SocketHandle socket, const char* data, std::size_t size, int timeout_ms,
                      const SocketWake* wake, long& sent) {
  sent = -1;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (wake != nullptr && wake->woken()) {
      return SocketWait::Stopped;
    }
    // Not a blocking send after a poll for room: a blocking send queues the
    // whole of a line, and waits for the peer when less room is left.
    ssize_t result;
    do {
      result = ::send(socket, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (result < 0 && errno == EINTR);
    if (result >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
      sent = static_cast<long>(result);
      return SocketWait::Ready;
    }
    int left = -1;
    if (timeout_ms >= 0) {
      const auto rest =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (rest <= 0) {
        return SocketWait::TimedOut;
      }
      left = static_cast<int>(rest);
    }
    if (PollSocket(socket, SocketDirection::Write, wake != nullptr ? wake->handle() : kInvalidSocket, left) ==
        SocketPoll::Woken) {
      return SocketWait::Stopped;
    }
  }
}

SocketWait ReceiveOrWake(SocketHandle socket, char* data, std::size_t size, int timeout_ms,
                         const SocketWake& wake, long& received) {
  received = -1;
  const SocketWait wait = WaitForSocket(socket, SocketDirection::Read, timeout_ms, wake);
  if (wait == SocketWait::Ready) {
    received = ReceiveSome(socket, data, size);
  }
  return wait;
}

SocketPoll PollSocket(SocketHandle socket, SocketDirection direction, SocketHandle wake, int timeout_ms) {
  // poll skips an entry whose descriptor is negative: no wake socket.
  pollfd entries[2] = {};
  entries[0].fd = socket;
  entries[0].events = direction == SocketDirection::Read ? POLLIN : POLLOUT;
  entries[1].fd = wake;
  entries[1].events = POLLIN;
  const int ready = ::poll(entries, 2, timeout_ms < 0 ? -1 : timeout_ms);
  if (ready < 0) {
    return errno == EINTR ? SocketPoll::Nothing : SocketPoll::Ready;
  }
  if (ready == 0) {
    return SocketPoll::Nothing;
  }
  return entries[1].revents != 0 ? SocketPoll::Woken : SocketPoll::Ready;
}

bool SetSocketBlocking(SocketHandle socket, bool blocking) {
  const int flags = ::fcntl(socket, F_GETFL, 0);
  if (flags < 0) {
    return false;
  }
  const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return wanted == flags || ::fcntl(socket, F_SETFL, wanted) == 0;
}

bool SetReceiveTimeout(SocketHandle socket, unsigned milliseconds) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(milliseconds / 1000);
  tv.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
  return ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

namespace {

// The kernel counts keep-alive times in whole seconds and refuses 0.
int KeepAliveSeconds(unsigned milliseconds) {
  const unsigned seconds = milliseconds / 1000 + (milliseconds % 1000 != 0 ? 1 : 0);
  return seconds == 0 ? 1 : static_cast<int>(std::min<unsigned>(seconds, INT_MAX));
}

bool SetIntOption(SocketHandle socket, int level, int option, int value) {
  return ::setsockopt(socket, level, option, &value, sizeof value) == 0;
}

}  // namespace

bool SetKeepAlive(SocketHandle socket, const KeepAliveTiming& timing) {
  // The timing first, so that false means keep-alive is off, never on at the
  // system's default of two hours.
  const int probes = static_cast<int>(std::clamp<unsigned>(timing.probes, 1, INT_MAX));
  return SetIntOption(socket, IPPROTO_TCP, TCP_KEEPIDLE, KeepAliveSeconds(timing.idle_ms)) &&
         SetIntOption(socket, IPPROTO_TCP, TCP_KEEPINTVL, KeepAliveSeconds(timing.interval_ms)) &&
         SetIntOption(socket, IPPROTO_TCP, TCP_KEEPCNT, probes) &&
         SetIntOption(socket, SOL_SOCKET, SO_KEEPALIVE, 1);
}

bool ClaimListenAddress(SocketHandle socket) {
  // Linux never lets a second socket listen on a port, SO_REUSEADDR or not;
  // the option only lets a restarted program bind while the connections of
  // the one before linger in TIME_WAIT.
  return SetIntOption(socket, SOL_SOCKET, SO_REUSEADDR, 1);
}

int LastSocketError() { return errno; }

bool AcceptFailureEndsLoop(int error) { return error == EINVAL || error == EBADF || error == ENOTSOCK; }

int ConnectWithTimeout(SocketHandle socket, const sockaddr_in& address, unsigned timeout_ms) {
  const int flags = ::fcntl(socket, F_GETFL, 0);
  if (flags < 0 || ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) < 0) {
    return errno;
  }
  int error = 0;
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    error = errno;
  }
  // A signal during connect leaves the attempt going on, like EINPROGRESS.
  if (error == EINPROGRESS || error == EINTR) {
    // A signal must not stretch the wait, so each retry gets what is left.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    pollfd entry{};
    entry.fd = socket;
    entry.events = POLLOUT;
    int ready;
    do {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      ready = ::poll(&entry, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    } while (ready < 0 && errno == EINTR);
    if (ready == 0) {
      error = ETIMEDOUT;
    } else if (ready < 0) {
      error = errno;
    } else {
      socklen_t size = sizeof error;
      if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
        error = errno;
      }
    }
  }
  if (::fcntl(socket, F_SETFL, flags) < 0 && error == 0) {
    error = errno;
  }
  return error;
}

std::string DescribeSocketError(int error) {
  return std::system_category().message(error) + " (" + std::to_string(error) + ")";
}

}  // namespace lumora
