#pragma once

// The one place where Winsock and BSD sockets meet. Everything above this
// header is written once for both.

#include <cstddef>
#include <string>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace lumora {

#ifdef _WIN32
using SocketHandle = SOCKET;
inline constexpr SocketHandle kInvalidSocket = INVALID_SOCKET;
using SockLen = int;
#else
using SocketHandle = int;
inline constexpr SocketHandle kInvalidSocket = -1;
using SockLen = socklen_t;
#endif

// Makes the socket layer ready, once per process (Winsock 2.2 on Windows).
// Remembers both outcomes: a failure is never retried.
bool EnsureWinsock();

SocketHandle OpenTcpSocket();
void CloseSocket(SocketHandle socket);
// Shuts down both directions; wakes a thread blocked in recv on the socket.
void ShutdownSocket(SocketHandle socket);

// One socket with one owner, which closes it: moved, never copied, so that
// no two places can close the same handle.
class Socket {
 public:
  Socket() = default;
  explicit Socket(SocketHandle handle) noexcept : handle_(handle) {}
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  Socket(Socket&& other) noexcept : handle_(other.release()) {}
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) {
      Reset(other.release());
    }
    return *this;
  }
  ~Socket() { Reset(); }

  SocketHandle get() const noexcept { return handle_; }
  bool valid() const noexcept { return handle_ != kInvalidSocket; }
  // Gives up ownership without closing: the caller closes the handle.
  [[nodiscard]] SocketHandle release() noexcept {
    const SocketHandle handle = handle_;
    handle_ = kInvalidSocket;
    return handle;
  }
  // Closes the socket held, if any, and takes `handle` instead.
  void Reset(SocketHandle handle = kInvalidSocket) noexcept {
    CloseSocket(handle_);
    handle_ = handle;
  }

 private:
  SocketHandle handle_ = kInvalidSocket;
};

// One send or receive call. Sends never raise SIGPIPE. The result is the
// number of bytes, 0 when the peer closed (receive), or negative on error or
// time-out.
long SendSome(SocketHandle socket, const char* data, std::size_t size);
long ReceiveSome(SocketHandle socket, char* data, std::size_t size);

// SO_RCVTIMEO in milliseconds; 0 waits without limit.
bool SetReceiveTimeout(SocketHandle socket, unsigned milliseconds);
bool SetReuseAddress(SocketHandle socket);

// The last socket error of this thread (WSAGetLastError or errno).
int LastSocketError();

// True when a failed accept means that the listening socket was shut down or
// closed, so the accept loop must end: WSAEINTR or WSAENOTSOCK on Windows;
// EINVAL (Linux reports it once the socket is shut down), EBADF or ENOTSOCK
// elsewhere. Any other failure is worth another try.
bool AcceptFailureEndsLoop(int error);

// Whether shutting a socket down wakes a thread blocked in accept or recv on
// it. Linux: yes, so a socket can stay open until the thread that reads it is
// done, and its descriptor can never be reused under that thread. Windows (and
// Wine): not reliably; only closesocket wakes the thread.
bool ShutdownWakesBlockedCalls();

// "a.b.c.d:port" of an IPv4 socket address.
std::string FormatPeerAddress(const sockaddr_in& address);

// Connects a blocking socket, giving up after `timeout_ms` (an unreachable
// host would otherwise hold the caller for minutes). The socket is blocking
// again afterwards. 0 on success, else the socket error; a time-out gives
// ETIMEDOUT or WSAETIMEDOUT.
int ConnectWithTimeout(SocketHandle socket, const sockaddr_in& address, unsigned timeout_ms);

// A socket error as text for people, with its number: "Connection refused
// (111)". UTF-8 on every platform.
std::string DescribeSocketError(int error);

}  // namespace lumora
