#include <winsock2.h>
#include <ws2tcpip.h>
// mstcpip.h needs the Winsock headers first.
#include <mstcpip.h>

#include <algorithm>
#include <climits>
#include <mutex>
#include <string>

#include "base/win32_util_win.h"
#include "net/socket_platform.h"

namespace lumora {

bool SocketWake::OpenEvent() {
  event_.Reset(WSACreateEvent());
  return event_.valid();
}

void SocketWake::SignalEvent() { SetEvent(event_.get()); }

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

SocketHandle OpenUdpSocket() { return ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP); }

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

SocketPoll PollSocket(SocketHandle socket, SocketDirection direction, SocketHandle wake, int timeout_ms) {
  const bool read = direction == SocketDirection::Read;
  fd_set readable;
  FD_ZERO(&readable);
  fd_set writable;
  FD_ZERO(&writable);
  FD_SET(socket, read ? &readable : &writable);
  if (wake != kInvalidSocket) {
    FD_SET(wake, &readable);
  }
  // No exception set: on a connected socket it reports urgent data that
  // nobody has read, which is neither room to write nor bytes for recv, and a
  // wait that took it for either would return at once, again and again.
  timeval wait{};
  wait.tv_sec = static_cast<long>(timeout_ms / 1000);
  wait.tv_usec = static_cast<long>((timeout_ms % 1000) * 1000);
  // A set passed to select must not be empty.
  const bool any_readable = read || wake != kInvalidSocket;
  const int count = ::select(0, any_readable ? &readable : nullptr, read ? nullptr : &writable, nullptr,
                             timeout_ms < 0 ? nullptr : &wait);
  if (count == 0) {
    return SocketPoll::Nothing;
  }
  if (count != SOCKET_ERROR && wake != kInvalidSocket && FD_ISSET(wake, &readable)) {
    return SocketPoll::Woken;
  }
  return SocketPoll::Ready;
}

SocketWait ReceiveOrWake(SocketHandle socket, char* data, std::size_t size, int timeout_ms,
                         const SocketWake& wake, long& received) {
  received = -1;
  if (wake.woken()) {
    return SocketWait::Stopped;
  }
  ScopedHandle done(WSACreateEvent());
  if (!done.valid() || wake.event() == nullptr) {
    const SocketWait wait = WaitForSocket(socket, SocketDirection::Read, timeout_ms, wake);
    if (wait == SocketWait::Ready) {
      received = ReceiveSome(socket, data, size);
    }
    return wait;
  }
  WSABUF buffer{static_cast<ULONG>(std::min<std::size_t>(size, INT_MAX)), data};
  WSAOVERLAPPED overlapped{};
  overlapped.hEvent = done.get();
  DWORD bytes = 0;
  DWORD flags = 0;
  if (::WSARecv(socket, &buffer, 1, &bytes, &flags, &overlapped, nullptr) != 0 &&
      WSAGetLastError() != WSA_IO_PENDING) {
    return SocketWait::Ready;  // the failure is the caller's -1
  }
  const HANDLE handles[2] = {done.get(), wake.event()};
  const DWORD waited =
      WaitForMultipleObjects(2, handles, FALSE, timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
  if (waited != WAIT_OBJECT_0) {
    // The receive writes into `data` until it is over: cancelled, and then
    // waited for like any other.
    CancelIoEx(reinterpret_cast<HANDLE>(socket), &overlapped);
  }
  const bool completed = ::WSAGetOverlappedResult(socket, &overlapped, &bytes, TRUE, &flags) != FALSE;
  if (wake.woken()) {
    // A receive that completed beside the wake took its bytes off the socket:
    // they go to the caller, or the stream would lose them.
    if (completed && bytes > 0) {
      received = static_cast<long>(bytes);
    }
    return SocketWait::Stopped;
  }
  if (completed) {
    // Also when the bytes came in just as the time ran out: nothing is lost.
    received = static_cast<long>(bytes);
    return SocketWait::Ready;
  }
  return waited == WAIT_TIMEOUT ? SocketWait::TimedOut : SocketWait::Ready;
}

SocketWait SendOrWake(SocketHandle socket, const char* data, std::size_t size, int timeout_ms,
                      const SocketWake* wake, long& sent) {
  sent = -1;
  if (wake != nullptr && wake->woken()) {
    return SocketWait::Stopped;
  }
  // Overlapped, whatever the socket's mode: a blocking send waits for a peer
  // that stopped reading for good, and select, the only wait for room that
  // Winsock offers beside the wake socket, also ends for urgent data that
  // leaves no room at all.
  ScopedHandle done(WSACreateEvent());
  if (!done.valid()) {
    return SocketWait::Ready;  // the failure is the caller's -1
  }
  // An overlapped send completes only once all of it is taken: in pieces, a
  // peer that makes room for part of a long line is progress, as a send that
  // does not wait reports it elsewhere.
  constexpr std::size_t kPiece = 4096;
  WSABUF buffer{static_cast<ULONG>(std::min(size, kPiece)), const_cast<char*>(data)};
  WSAOVERLAPPED overlapped{};
  overlapped.hEvent = done.get();
  DWORD bytes = 0;
  if (::WSASend(socket, &buffer, 1, &bytes, 0, &overlapped, nullptr) != 0 &&
      WSAGetLastError() != WSA_IO_PENDING) {
    return SocketWait::Ready;
  }
  const HANDLE handles[2] = {done.get(), wake != nullptr ? wake->event() : nullptr};
  const DWORD count = handles[1] != nullptr ? 2 : 1;
  const DWORD waited = WaitForMultipleObjects(count, handles, FALSE,
                                              timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
  if (waited != WAIT_OBJECT_0) {
    // The system reads `data` until the send is over: cancelled, and then
    // waited for like any other.
    CancelIoEx(reinterpret_cast<HANDLE>(socket), &overlapped);
  }
  DWORD flags = 0;
  const bool completed = ::WSAGetOverlappedResult(socket, &overlapped, &bytes, TRUE, &flags) != FALSE;
  // Bytes that went out before a cancel count as sent, so that the caller
  // can finish the line or knows it was cut.
  if (completed || bytes > 0) {
    sent = static_cast<long>(bytes);
    return SocketWait::Ready;
  }
  if (waited == WAIT_TIMEOUT) {
    return SocketWait::TimedOut;
  }
  return waited == WAIT_OBJECT_0 + 1 ? SocketWait::Stopped : SocketWait::Ready;
}

bool SetSocketBlocking(SocketHandle socket, bool blocking) {
  u_long non_blocking = blocking ? 0 : 1;
  return ::ioctlsocket(socket, FIONBIO, &non_blocking) == 0;
}

bool SetReceiveTimeout(SocketHandle socket, unsigned milliseconds) {
  const DWORD timeout = milliseconds;
  return ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                      sizeof timeout) == 0;
}

bool SetKeepAlive(SocketHandle socket, const KeepAliveTiming& timing) {
  tcp_keepalive values{};
  values.onoff = 1;
  values.keepalivetime = timing.idle_ms;
  values.keepaliveinterval = timing.interval_ms;
  DWORD returned = 0;
  if (::WSAIoctl(socket, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
                 nullptr) != 0) {
    return false;
  }
#ifdef TCP_KEEPCNT
  // Windows 10 1703 and later take a probe count; earlier versions refuse the
  // option and send their fixed 10 probes, which the default timing is made
  // for. Keep-alive is on either way, so a refusal is no failure.
  const DWORD probes = timing.probes;
  ::setsockopt(socket, IPPROTO_TCP, TCP_KEEPCNT, reinterpret_cast<const char*>(&probes), sizeof probes);
#endif
  return true;
}

bool ClaimListenAddress(SocketHandle socket) {
  // Not SO_REUSEADDR: on Windows it lets a socket bind a port that another
  // socket of the same user listens on, so our bind would "succeed" on a port
  // another program serves, or another program could take our port while we
  // listen. With SO_EXCLUSIVEADDRUSE either bind fails.
  const BOOL one = TRUE;
  return ::setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one),
                      sizeof one) == 0;
}

int LastSocketError() { return WSAGetLastError(); }

bool AcceptFailureEndsLoop(int error) { return error == WSAEINTR || error == WSAENOTSOCK; }

int ConnectWithTimeout(SocketHandle socket, const sockaddr_in& address, unsigned timeout_ms) {
  u_long non_blocking = 1;
  if (::ioctlsocket(socket, FIONBIO, &non_blocking) != 0) {
    return WSAGetLastError();
  }
  int error = 0;
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    error = WSAGetLastError();
  }
  if (error == WSAEWOULDBLOCK) {
    // Winsock reports a failed attempt in the exception set, not the write set.
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(socket, &writable);
    FD_SET(socket, &failed);
    timeval wait{};
    wait.tv_sec = static_cast<long>(timeout_ms / 1000);
    wait.tv_usec = static_cast<long>((timeout_ms % 1000) * 1000);
    const int ready = ::select(0, nullptr, &writable, &failed, &wait);
    if (ready == 0) {
      error = WSAETIMEDOUT;
    } else if (ready == SOCKET_ERROR) {
      error = WSAGetLastError();
    } else {
      int size = sizeof error;
      if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0) {
        error = WSAGetLastError();
      } else if (error == 0 && FD_ISSET(socket, &failed)) {
        error = WSAECONNREFUSED;
      }
    }
  }
  u_long blocking = 0;
  if (::ioctlsocket(socket, FIONBIO, &blocking) != 0 && error == 0) {
    error = WSAGetLastError();
  }
  return error;
}

std::string DescribeSocketError(int error) {
  // The system's text is in the user's language, so it is asked for in UTF-16
  // and converted, never in the ANSI code page.
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string utf8;
  if (length > 0 && text != nullptr) {
    utf8 = WideToUtf8(std::wstring_view(text, length));
  }
  if (text != nullptr) {
    ::LocalFree(text);
  }
  while (!utf8.empty() &&
         (utf8.back() == '\n' || utf8.back() == '\r' || utf8.back() == ' ' || utf8.back() == '.')) {
    utf8.pop_back();
  }
  if (utf8.empty()) {
    utf8 = "socket error";
  }
  return utf8 + " (" + std::to_string(error) + ")";
}

}  // namespace lumora
