#pragma once

// The one place where Winsock and BSD sockets meet. Everything above this
// header is written once for both.

#include <atomic>
#include <cstddef>
#include <string>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>

#include "base/scoped_win.h"
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
SocketHandle OpenUdpSocket();
void CloseSocket(SocketHandle socket);
// Shuts down both directions: the peer sees the end of the stream. Not a way
// to wake a thread blocked on the socket (see SocketWake).
void ShutdownSocket(SocketHandle socket);

// One socket with one owner, which closes it: moved, never copied, so that
// no two places can close the same handle. The owner is the thread that reads
// the socket; another thread that wants it ended wakes that thread (SocketWake)
// and never closes it under it.
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

enum class SocketDirection { Read, Write };
enum class SocketPoll { Ready, Woken, Nothing };

// One wait for `socket` to be ready in `direction`, or for `wake` to become
// readable (kInvalidSocket: no wake socket), for at most `timeout_ms`
// (negative: no limit; 0: do not wait). Ready also when the connection closed
// or failed, or the poll itself failed, so that the next call reports it; a
// listening socket is readable when a connection waits. Nothing after the
// time-out or a signal. Urgent data the peer sent is neither readable nor
// room to write; not for a connection attempt still under way (on Windows
// its failure would never show: ConnectWithTimeout waits for that itself).
SocketPoll PollSocket(SocketHandle socket, SocketDirection direction, SocketHandle wake, int timeout_ms);

// How one thread ends another thread's wait on a socket, the same way on
// Linux, Windows and Wine: a UDP socket on 127.0.0.1 connected to itself,
// which the waiting thread polls together with its own socket (WaitForSocket);
// Wake sends it one datagram. The waiting thread stays the only one that
// touches, and closes, the socket it waits on.
//
// Neither closing nor shutting down the socket from the ending thread will do:
// a closed handle can be reused by a new socket before the waiting thread
// reaches its call, which then reads the wrong socket, and under Wine shutdown
// does not reliably wake a blocked recv or accept. Select on Windows waits for
// sockets only, not for an event, and WSAEventSelect would turn the socket
// non-blocking for good; a wait in short slices that rechecks a flag would
// cost every stop and replacement up to a slice and wake the idle program many
// times a second. A socket is what select and poll both wait for.
class SocketWake {
 public:
  SocketWake() = default;
  SocketWake(const SocketWake&) = delete;
  SocketWake& operator=(const SocketWake&) = delete;

  // Makes the wake socket, before the thread that waits starts (and after
  // EnsureWinsock). False when it could not be made.
  bool Open();
  // From any thread, any number of times: the current wait and every later
  // one end at once.
  void Wake();
  bool woken() const { return woken_.load(); }
  SocketHandle handle() const { return socket_.get(); }
#ifdef _WIN32
  // Set by Wake as well: a receive or a send waits for it beside its own
  // completion (ReceiveOrWake, SendOrWake).
  HANDLE event() const { return event_.get(); }
#endif

 private:
  // The platform's own part of the wake: the event beside which Windows waits
  // for an overlapped receive or send; nothing elsewhere.
  bool OpenEvent();
  void SignalEvent();

  std::atomic<bool> woken_{false};
  Socket socket_;
#ifdef _WIN32
  ScopedHandle event_;  // manual reset
#endif
};

enum class SocketWait { Ready, Stopped, TimedOut };

// Waits until `socket` is ready (as PollSocket) or `wake` is woken, for at
// most `timeout_ms` (negative: no limit). A wake that came before the wait is
// seen as well, and wins over a socket that is ready at the same time.
SocketWait WaitForSocket(SocketHandle socket, SocketDirection direction, int timeout_ms,
                         const SocketWake& wake);

// Waits for bytes on `socket` or for `wake` as WaitForSocket does, and
// receives what has arrived into `data`. When Ready, `received` is the result
// of one receive call (as ReceiveSome's). When Stopped, `received` is
// positive if bytes came in at the very moment of the wake: they are taken
// off the socket, so the caller keeps them for whoever reads on; otherwise it
// is -1. On Windows the wait is an
// overlapped receive beside the wake's event: under Wine a select that
// includes the wake socket took about 3.5 ms longer to return than a
// blocked receive, which every commit waited for before its first character.
SocketWait ReceiveOrWake(SocketHandle socket, char* data, std::size_t size, int timeout_ms,
                         const SocketWake& wake, long& received);

// Sends what `socket` takes of `data`, and never blocks: waits for room for
// at most `timeout_ms` (negative: no limit; 0: takes only what fits now), or
// until `wake` is woken (nullptr: no wake). When Ready, `sent` is the number
// of bytes sent, at least 1, or negative on error. Stopped and TimedOut sent
// nothing. A connection's blocking mode does not matter: on Windows this is an
// overlapped send beside the wake's event, elsewhere a send that does not
// wait. A blocking send to a peer that stopped reading would hold its thread
// until the peer reads again, whoever wants the connection ended.
SocketWait SendOrWake(SocketHandle socket, const char* data, std::size_t size, int timeout_ms,
                      const SocketWake* wake, long& sent);

// SO_OOBINLINE: a byte the peer sends as urgent data arrives in the stream
// where it was sent. Held apart instead, Winsock's select reports it as an
// exceptional condition for as long as nobody reads it.
bool TakeUrgentDataInline(SocketHandle socket);

// Blocking (the default for a new socket) or not.
bool SetSocketBlocking(SocketHandle socket, bool blocking);

// SO_RCVTIMEO in milliseconds; 0 waits without limit.
bool SetReceiveTimeout(SocketHandle socket, unsigned milliseconds);

// When a quiet connection is probed, and how often. A phone that leaves the
// Wi-Fi without closing its connection sends nothing more, and without probes
// its connection would stay open for hours; with these it ends after
// idle + interval * probes unanswered, 30 s.
struct KeepAliveTiming {
  unsigned idle_ms = 10000;
  unsigned interval_ms = 2000;
  unsigned probes = 10;
};

// Turns on TCP keep-alive with `timing`. Linux counts whole seconds: each time
// is rounded up, to at least 1 s, and there is at least one probe. Windows
// takes the times in milliseconds; its number of probes is the system's (10
// since Vista) unless the system takes TCP_KEEPCNT and the headers name it.
// False when keep-alive or its timing could not be set.
bool SetKeepAlive(SocketHandle socket, const KeepAliveTiming& timing = {});

// Before bind on a listening socket: the bind fails while another socket
// listens on the port, and no other socket can bind it while this one
// listens. Windows: SO_EXCLUSIVEADDRUSE. Elsewhere: SO_REUSEADDR, which still
// refuses a second listener but lets a restart bind a port that the last
// run's connections hold in TIME_WAIT.
bool ClaimListenAddress(SocketHandle socket);

// The last socket error of this thread (WSAGetLastError or errno).
int LastSocketError();

// True when a failed accept means that the listening socket is unusable, so
// the accept loop must end: WSAEINTR or WSAENOTSOCK on Windows; EINVAL, EBADF
// or ENOTSOCK elsewhere. Any other failure is worth another try.
bool AcceptFailureEndsLoop(int error);

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
