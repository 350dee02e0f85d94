#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "net/socket_platform.h"

namespace lumora {

// How the server reports phone events to its owner. Every callback runs on the
// active phone's connection thread, between OnClientConnected (first) and
// OnClientDisconnected (last); an unset one is skipped. Callbacks must return
// promptly and must not throw.
struct ServerCallbacks {
  std::function<void(const std::string& peer)> OnClientConnected;
  std::function<void()> OnClientDisconnected;
  std::function<void(const std::string& content)> OnText;
  std::function<void(bool press_enter)> OnCommit;
  std::function<void()> OnClear;
  std::function<void(const std::string& name)> OnKey;
  std::function<void(const std::string& code, const std::string& message)> OnError;
};

inline constexpr unsigned kHelloTimeoutMs = 1000;
inline constexpr std::size_t kReceiveChunkBytes = 4096;
inline constexpr std::size_t kMaxBufferedBytes = 65536;
inline constexpr int kListenBacklog = 4;

// Writes every byte of `line`; best effort, failures are not reported (a broken
// connection shows up as a failed receive).
void SendLine(SocketHandle socket, std::string_view line);

// Consumes every complete line at the front of `buffer`, calls the callbacks
// and sends the replies through `send`. False when the connection must end
// (a bye, or a rejected line after its error and bye replies); a partial last
// line stays in the buffer.
bool DispatchLines(std::string& buffer, const ServerCallbacks& callbacks,
                   const std::function<void(std::string_view line)>& send);

// The TCP server the phone connects to: listens on every IPv4 interface,
// greets each connection, requires a hello within a second, and serves one
// phone at a time; a newer phone replaces the active one. Started once; the
// owner makes a new object to serve again.
class ParlinoServer {
 public:
  ParlinoServer();
  ~ParlinoServer();
  ParlinoServer(const ParlinoServer&) = delete;
  ParlinoServer& operator=(const ParlinoServer&) = delete;

  // True when listening with the accept thread running. False on failure
  // (logged), and without a log line when already running. Port 0 asks the
  // system for a free port; BoundPort() tells which.
  bool Start(unsigned port, ServerCallbacks callbacks);
  // Ends everything and returns once both threads have ended. Never call it
  // from a callback.
  void Stop();

  bool IsRunning() const { return running_.load(); }
  unsigned Port() const { return port_; }
  // The port the listening socket is bound to (differs from Port() after a
  // start on port 0); 0 when not listening.
  unsigned BoundPort() const { return bound_port_; }

  // Replaces how the connection thread is started; lets tests simulate a
  // thread that cannot be created.
  using ThreadStarter = std::function<std::thread(std::function<void()>)>;
  void SetThreadStarterForTest(ThreadStarter starter) { start_thread_ = std::move(starter); }

 private:
  // What a connection thread shares with whoever may end it (replacement or
  // Stop). Not the socket: the connection thread takes that over when it
  // starts and is the only thread that sends on it, receives from it and
  // closes it. Whoever ends the connection leaves the bye and wakes the thread,
  // which then sends the bye, closes the socket and reports the disconnect.
  struct Connection {
    explicit Connection(Socket s) : socket(std::move(s)) {}

    // Held until the connection thread starts and takes it; the accept thread
    // closes it when no thread could be started.
    Socket socket;
    SocketWake wake;
    // The bye line for the phone; written and read under the server's mutex.
    std::string bye;
  };

  void AcceptLoop(Socket listener);
  void HandleAccepted(Socket socket, const std::string& peer);
  bool WaitForHello(SocketHandle socket, unsigned timeout_ms, std::string& leftover);
  void CloseActiveClient(std::string_view reason);
  void ConnectionLoop(std::shared_ptr<Connection> connection, std::string peer, std::string leftover);

  std::atomic<bool> running_{false};
  unsigned port_ = 0;
  unsigned bound_port_ = 0;
  // Owns the listening socket from Start on, and closes it when it ends.
  std::thread accept_thread_;
  SocketWake stop_wake_;  // ends the accept thread's waits
  std::mutex mutex_;      // guards active_ and the bye of the connection in it
  std::shared_ptr<Connection> active_;
  std::thread connection_thread_;
  ServerCallbacks callbacks_;
  ThreadStarter start_thread_;
};

}  // namespace lumora
