#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "net/protocol.h"
#include "net/socket_platform.h"

namespace lumora {

// What the PC learns of a phone at its handshake.
struct PhoneHello {
  std::uint64_t id = 0;       // the connection's number, unique in the process
  std::string peer;           // "a.b.c.d:port"
  std::uint32_t address = 0;  // IPv4, host byte order
  std::string client;         // the hello's "client" as received: any UTF-8, never trusted
  std::string version;
  // From the PC's neighbour table, "aa:bb:cc:dd:ee:ff"; empty when the PC has
  // none (loopback, a phone behind a router) or nobody admits phones.
  std::string hardware_address;
};

// What becomes of a phone that said hello.
enum class Admission {
  Serve,   // it becomes the active phone now
  Hold,    // it waits, unheard, until the owner answers (AnswerHeldPhone)
  Refuse,  // bye "refused", then the connection closes
};

// Why the server turned a connection away. Told to the owner so that the user
// can tell "nothing arrives" from "it arrives and is refused".
enum class RefusalReason {
  NotLocalNetwork,  // AcceptSource said no
  NoHello,          // no valid hello in time: not the phone app, or another version of it
  AskedTooOften,    // AdmitPhone said Refuse
  RefusedByUser,    // a held phone answered with AnswerHeldPhone(id, false)
  NotAnswered,      // a held phone that waited its whole time without an answer
  // kMaxHeldPhones waited already; also for the active phone that
  // ReviewActivePhone sent back to wait, as no prompt will show it.
  TooManyWaiting,
};

// How the server reports phone events to its owner. Every phone callback runs
// on the active phone's connection thread, between OnClientConnected (first)
// and OnClientDisconnected (last); an unset one is skipped. Callbacks must
// return promptly and must not throw.
struct ServerCallbacks {
  std::function<void(const std::string& peer)> OnClientConnected;
  std::function<void()> OnClientDisconnected;
  std::function<void(const std::string& content)> OnText;
  std::function<void(bool press_enter)> OnCommit;
  std::function<void()> OnClear;
  std::function<void(const std::string& name)> OnKey;
  std::function<void(const std::string& code, const std::string& message)> OnError;

  // Who may type is the owner's policy, not the server's: without these every
  // phone that says hello is served at once.
  //
  // On the accept thread, before the welcome: false closes the connection.
  std::function<bool(std::uint32_t address)> AcceptSource;
  // On the accept thread, after the hello.
  std::function<Admission(const PhoneHello& hello)> AdmitPhone;
  // The phone is held now; the owner asks the user and answers with
  // AnswerHeldPhone. On the accept thread, or on the phone's own connection
  // thread when ReviewActivePhone sent it back to wait. Each held phone waits
  // in its own right until it is answered, leaves or times out; a newer one
  // never takes its place. Beyond kMaxHeldPhones a newer one is refused.
  std::function<void(const PhoneHello& hello)> OnPhoneHeld;
  // A held phone is gone without having been allowed: refused, not answered
  // in time, hung up, or the server stopped.
  std::function<void(std::uint64_t id)> OnHeldPhoneGone;
  // On the thread that calls ReviewActivePhone: whether the active phone may
  // still type. Serve keeps it, Hold sends it back to wait for the user,
  // Refuse closes it (bye "refused"). Unset: it stays.
  std::function<Admission(const PhoneHello& hello)> ReviewPhone;
  // On the phone's connection thread, right before its OnClientConnected;
  // `took_over` when it replaced a phone that was active.
  std::function<void(const PhoneHello& hello, bool took_over)> OnPhoneActive;
  // Once per connection the server turned away, with its IPv4 address in
  // host byte order; on the thread that refused it: the accept thread, the
  // held phone's own thread, or the caller's of AnswerHeldPhone. Not for a
  // connection that ended otherwise: one that hung up by itself (before its
  // hello too), was replaced, was sent away by ReviewActivePhone, or ended
  // because the server stopped.
  std::function<void(std::uint32_t address, RefusalReason reason)> OnConnectionRefused;
};

inline constexpr unsigned kHelloTimeoutMs = 1000;
inline constexpr std::size_t kReceiveChunkBytes = 4096;
// The longest line a phone may send, its line feed included.
inline constexpr std::size_t kMaxBufferedBytes = 65536;
inline constexpr int kListenBacklog = 4;
// How long a held phone waits for the user's answer before it is refused.
inline constexpr unsigned kHoldTimeoutMs = 60000;
// How many phones may wait for the user at once: each has a thread and a
// prompt, and a device on the network must not make unbounded numbers of
// either.
inline constexpr std::size_t kMaxHeldPhones = 4;
// A reply that makes no progress for this long ends the connection: the
// phone stopped reading, and nothing may wait on it for good.
inline constexpr unsigned kSendStallMs = 5000;

// Writes every byte of `line`; best effort, failures are not reported (a broken
// connection shows up as a failed receive). Gives up once the socket took
// nothing for kSendStallMs.
void SendLine(SocketHandle socket, std::string_view line);

// How the lines of a connection are taken: served, or, while the phone waits
// for the user, only kept alive (pings answered, bye and bad lines honoured,
// everything it says dropped without a reply, so that no ack claims what was
// not taken).
enum class DispatchMode { Serve, Hold };

// Consumes every complete line at the front of `buffer`, calls the callbacks
// and sends the replies through `send`. False when the connection must end
// (a bye, or a rejected or too long line after its error and bye replies); a
// partial last line stays in the buffer.
bool DispatchLines(std::string& buffer, const ServerCallbacks& callbacks,
                   const std::function<void(std::string_view line)>& send,
                   DispatchMode mode = DispatchMode::Serve);

// The TCP server the phone connects to: listens on every IPv4 interface,
// greets each connection, requires a hello within a second, and serves one
// phone at a time; a newer phone replaces the active one. The owner may hold a
// phone until the user allows it (ServerCallbacks::AdmitPhone); a held phone
// has a thread of its own and does not disturb the active one. Started once;
// the owner makes a new object to serve again.
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
  // Shorter waits for tests; set before Start.
  void SetTimeoutsForTest(unsigned hold_ms, unsigned send_stall_ms) {
    hold_timeout_ms_ = hold_ms;
    send_stall_ms_ = send_stall_ms;
  }

  // The user's answer for the held phone `id`, from any thread but the
  // server's own. Allowed, it becomes the active phone on its connection as it
  // is; refused, it gets bye "refused". False when that phone is no longer
  // waiting (it left, was replaced, timed out, or was answered already).
  bool AnswerHeldPhone(std::uint64_t id, bool allow);

  // Asks ServerCallbacks::ReviewPhone again about the active phone, after the
  // owner's rules changed (a phone forgotten, asking turned on). One that may
  // no longer type is held again under a new id, or closed; either way
  // nothing more it says is served. From any thread but the server's own.
  void ReviewActivePhone();

 private:
  enum class Answer { None, Allowed, Refused };

  // What a connection thread shares with whoever may end it (replacement,
  // the user's answer or Stop). Not the socket: the connection thread takes
  // that over when it starts and is the only thread that sends on it,
  // receives from it and closes it. Whoever ends the connection leaves the bye
  // and wakes the thread, which then sends the bye, closes the socket and
  // reports the end.
  struct Connection {
    Connection(Socket s, PhoneHello h) : socket(std::move(s)), hello(std::move(h)) {}

    // The thread has reported everything it will (its disconnect, or that
    // the held phone is gone); a phone activated later may begin.
    void MarkFinished();
    void WaitFinished();

    // Held until the connection thread starts and takes it; the accept thread
    // closes it when no thread could be started.
    Socket socket;
    const PhoneHello hello;
    SocketWake wake;     // ends the active connection
    SocketWake decided;  // ends a held phone's wait
    // Written and read under the server's mutex.
    std::string bye;
    Answer answer = Answer::None;
    // Taken out of the active slot to wait for the user again, not to end.
    bool hold_again = false;
    // How many reviews had begun when the gate last said yes to this phone:
    // one begun since then may have missed it on its way into the slot.
    std::uint64_t reviews_seen = 0;

   private:
    std::mutex finished_mutex_;
    std::condition_variable finished_changed_;
    bool finished_ = false;
  };

  // A thread may outlive its first connection (an active phone that is held
  // again goes on waiting on the same thread), so it tells its own end.
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };

  void AcceptLoop(Socket listener);
  void HandleAccepted(Socket socket, const sockaddr_in& address);
  enum class HelloWait {
    Received,
    Refused,  // not a hello, too long, or none in time
    Gone,     // the peer hung up first, or the server is stopping
  };
  HelloWait WaitForHello(SocketHandle socket, unsigned timeout_ms, std::string& leftover,
                         ClientMessage& hello);
  // Empties the active slot and leaves the bye for its connection's thread,
  // which it wakes; the connection taken, if any.
  std::shared_ptr<Connection> CloseActiveClient(std::string_view reason);
  // Makes `connection` the active phone once the one before it has ended;
  // false when the server is stopping. `took_over` tells whether one was
  // active.
  bool Activate(const std::shared_ptr<Connection>& connection, bool& took_over);
  bool StartWorker(const std::shared_ptr<Connection>& connection, std::function<void()> body);
  // Puts `connection` among the held phones and tells the owner; false (and
  // nothing told) when the server is stopping or too many phones wait.
  bool AddHeld(const std::shared_ptr<Connection>& connection, bool& full);
  void RemoveHeld(const std::shared_ptr<Connection>& connection);
  void ReapWorkers();
  // Thread bodies. ConnectionLoop returns the phone when it was sent back to
  // wait (ReviewActivePhone), held under a new id with the socket in it and
  // what it had begun to say in `buffer`, for HoldLoop to go on with.
  void HoldLoop(std::shared_ptr<Connection> connection, std::string buffer);
  std::shared_ptr<Connection> ConnectionLoop(std::shared_ptr<Connection> connection, Socket socket,
                                             std::string& buffer, bool took_over);

  std::atomic<bool> running_{false};
  unsigned port_ = 0;
  unsigned bound_port_ = 0;
  unsigned hold_timeout_ms_ = kHoldTimeoutMs;
  unsigned send_stall_ms_ = kSendStallMs;
  // Owns the listening socket from Start on, and closes it when it ends.
  std::thread accept_thread_;
  SocketWake stop_wake_;  // ends the accept thread's waits
  std::mutex mutex_;      // guards active_, held_, and the bye and answer of the connections in them
  std::shared_ptr<Connection> active_;
  std::uint64_t reviews_ = 0;                      // ReviewActivePhone calls begun, under mutex_
  std::vector<std::shared_ptr<Connection>> held_;  // in the order they came
  // One phone becomes active at a time, after the one before it has ended.
  std::mutex activation_mutex_;
  std::shared_ptr<Connection> last_active_;  // under activation_mutex_
  // The connection threads: touched by the accept thread, then by Stop once
  // the accept thread has ended.
  std::vector<Worker> workers_;
  ServerCallbacks callbacks_;
  ThreadStarter start_thread_;
};

}  // namespace lumora
