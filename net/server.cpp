#include "net/server.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <utility>

#include "log/log.h"
#include "net/addresses.h"
#include "net/protocol.h"

namespace lumora {
namespace {

void LogWarn(const std::string& message) { Log(LogLevel::Warn, "APP", message); }

// Unique in the process, not only in one server: an answer meant for a phone
// of a server since replaced (a change of port) must not reach a phone of the
// new one.
std::uint64_t NextPhoneId() {
  static std::atomic<std::uint64_t> last{0};
  return ++last;
}
void LogError(const std::string& message) { Log(LogLevel::Error, "APP", message); }

// A last line on the way out (a bye), sent only as far as the socket takes it
// at once: a phone that stopped reading goes without it rather than holding
// Stop or the next phone.
void SendIfRoom(SocketHandle socket, std::string_view line) {
  long sent = -1;
  SendOrWake(socket, line.data(), line.size(), 0, nullptr, sent);
}

void TellRefused(const ServerCallbacks& callbacks, std::uint32_t address, RefusalReason reason) {
  if (callbacks.OnConnectionRefused) {
    callbacks.OnConnectionRefused(address, reason);
  }
}

}  // namespace

void SendLine(SocketHandle socket, std::string_view line) {
  if (socket == kInvalidSocket) {
    return;
  }
  // Bounded like the replies: the accept thread sends the welcome and the
  // refusals, and Stop waits for that thread.
  while (!line.empty()) {
    long sent = -1;
    if (SendOrWake(socket, line.data(), line.size(), static_cast<int>(kSendStallMs), nullptr, sent) !=
            SocketWait::Ready ||
        sent <= 0) {
      return;
    }
    line.remove_prefix(static_cast<std::size_t>(sent));
  }
}

bool DispatchLines(std::string& buffer, const ServerCallbacks& callbacks,
                   const std::function<void(std::string_view line)>& send, DispatchMode mode) {
  // Lines are taken by offset and the consumed bytes erased once at the end,
  // so a buffer full of short lines costs one move, not one per line.
  std::size_t start = 0;
  bool go_on = true;
  // The limit is one line's, complete or not: the bytes of the lines after it
  // in the same receive never count against it, so how TCP cut the stream
  // never decides whether a line is served.
  const auto too_long = [&] {
    send(BuildError("frame_too_long", "line exceeds 65536 bytes"));
    send(BuildBye("protocol_error"));
    go_on = false;
  };
  while (go_on && start < buffer.size()) {
    const std::size_t line_feed = buffer.find('\n', start);
    if (line_feed == std::string::npos) {
      if (buffer.size() - start > kMaxBufferedBytes) {
        too_long();
      }
      break;
    }
    if (line_feed + 1 - start > kMaxBufferedBytes) {
      too_long();
      break;
    }
    std::string_view line(buffer.data() + start, line_feed - start);
    start = line_feed + 1;
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (line.empty()) {
      continue;
    }

    ClientMessage message;
    std::string error;
    if (!ParseClientMessage(line, message, &error)) {
      if (callbacks.OnError) {
        callbacks.OnError("bad_frame", error);
      }
      send(BuildError("bad_frame", error));
      send(BuildBye("protocol_error"));
      go_on = false;
      break;
    }
    if (mode == DispatchMode::Hold && message.type != MessageType::Ping && message.type != MessageType::Bye) {
      continue;
    }
    switch (message.type) {
      case MessageType::Text:
        if (callbacks.OnText) {
          callbacks.OnText(message.content);
        }
        break;
      case MessageType::Commit:
        if (callbacks.OnCommit) {
          callbacks.OnCommit(message.press_enter);
        }
        send(BuildAck("commit"));
        break;
      case MessageType::Clear:
        if (callbacks.OnClear) {
          callbacks.OnClear();
        }
        send(BuildAck("clear"));
        break;
      case MessageType::Key:
        if (callbacks.OnKey) {
          callbacks.OnKey(message.name);
        }
        break;
      case MessageType::Ping:
        send(BuildPong(message.ts));
        break;
      case MessageType::Bye:
        go_on = false;
        break;
      case MessageType::Hello:
      case MessageType::Unrecognized:
        break;
    }
  }
  buffer.erase(0, start);
  return go_on;
}

void ParlinoServer::Connection::MarkFinished() {
  {
    std::lock_guard<std::mutex> lock(finished_mutex_);
    finished_ = true;
  }
  finished_changed_.notify_all();
}

void ParlinoServer::Connection::WaitFinished() {
  std::unique_lock<std::mutex> lock(finished_mutex_);
  finished_changed_.wait(lock, [this] { return finished_; });
}

ParlinoServer::ParlinoServer()
    : start_thread_([](std::function<void()> body) { return std::thread(std::move(body)); }) {}

ParlinoServer::~ParlinoServer() { Stop(); }

bool ParlinoServer::Start(unsigned port, ServerCallbacks callbacks) {
  if (running_.load()) {
    return false;
  }
  if (!EnsureWinsock()) {
    LogError("ParlinoServer: WSAStartup failed");
    return false;
  }
  callbacks_ = std::move(callbacks);

  Socket listener(OpenTcpSocket());
  if (!listener.valid() || !stop_wake_.Open()) {
    LogError("ParlinoServer: socket() failed");
    return false;
  }
  ClaimListenAddress(listener.get());

  // A port beyond 16 bits would silently wrap to another port; refuse it as
  // the bind failure it is.
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(static_cast<unsigned short>(port));
  if (port > 65535 ||
      ::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    LogError("ParlinoServer: bind() failed on port " + std::to_string(port));
    return false;
  }
  // Non-blocking: the accept loop accepts only once the socket is readable,
  // but a phone may give up in between, and a blocking accept would then wait
  // for the next phone without seeing Stop.
  if (::listen(listener.get(), kListenBacklog) != 0 || !SetSocketBlocking(listener.get(), false)) {
    LogError("ParlinoServer: listen() failed");
    return false;
  }

  sockaddr_in bound{};
  SockLen bound_size = sizeof bound;
  if (::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&bound), &bound_size) == 0) {
    bound_port_ = ntohs(bound.sin_port);
  }
  port_ = port;
  running_.store(true);
  LogWarn("ParlinoServer: listening on port " + std::to_string(port));

  try {
    accept_thread_ = std::thread(&ParlinoServer::AcceptLoop, this, std::move(listener));
  } catch (...) {
    // Not serving without the accept thread: say so through IsRunning too. The
    // listening socket went with the thread's arguments and is closed.
    running_.store(false);
    bound_port_ = 0;
    throw;
  }
  return true;
}

void ParlinoServer::Stop() {
  if (!running_.exchange(false)) {
    return;
  }
  // The accept thread wakes, in accept or in a handshake, and closes its
  // sockets itself; so do the active and the held connection's threads.
  stop_wake_.Wake();
  CloseActiveClient("shutdown");
  std::vector<std::shared_ptr<Connection>> held;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    held.swap(held_);
    for (const auto& connection : held) {
      connection->answer = Answer::Refused;
      connection->bye = BuildBye("shutdown");
    }
  }
  for (const auto& connection : held) {
    connection->decided.Wake();
  }
  if (accept_thread_.joinable()) {
    accept_thread_.join();
  }
  bound_port_ = 0;
  // A held phone that was allowed just now finds the server stopping when it
  // tries to become active, and ends as well.
  for (Worker& worker : workers_) {
    if (worker.thread.joinable()) {
      worker.thread.join();
    }
  }
  workers_.clear();
  LogWarn("ParlinoServer: stopped");
}

bool ParlinoServer::AnswerHeldPhone(std::uint64_t id, bool allow) {
  std::shared_ptr<Connection> held;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = std::find_if(held_.begin(), held_.end(),
                                 [id](const std::shared_ptr<Connection>& c) { return c->hello.id == id; });
    if (it == held_.end()) {
      return false;
    }
    held = *it;
    held_.erase(it);
    held->answer = allow ? Answer::Allowed : Answer::Refused;
    if (!allow) {
      held->bye = BuildBye("refused");
    }
  }
  held->decided.Wake();
  // Told here, where it is certain: the phone's thread cannot tell this
  // answer from the one Stop leaves.
  if (!allow) {
    TellRefused(callbacks_, held->hello.address, RefusalReason::RefusedByUser);
  }
  return true;
}

void ParlinoServer::ReviewActivePhone() {
  if (!callbacks_.ReviewPhone) {
    return;
  }
  std::shared_ptr<Connection> active;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++reviews_;
    active = active_;
  }
  if (!active) {
    return;
  }
  // Asked outside the lock: the owner's rules take locks of their own.
  const Admission verdict = callbacks_.ReviewPhone(active->hello);
  if (verdict == Admission::Serve) {
    return;
  }
  const bool hold_again = verdict == Admission::Hold;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (active_ != active) {
      return;  // it left, or was replaced, meanwhile
    }
    // Out of the slot in the same step as the decision, so that a line it
    // sends from now on is no longer served.
    active_.reset();
    active->hold_again = hold_again;
    if (!hold_again) {
      active->bye = BuildBye("refused");
    }
  }
  LogWarn("ParlinoServer: " + active->hello.peer + " may no longer type");
  active->wake.Wake();
}

bool ParlinoServer::AddHeld(const std::shared_ptr<Connection>& connection, bool& full) {
  full = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Stop takes the held phones under this lock after clearing the flag: a
    // phone added after that would keep Stop waiting for its whole time-out.
    if (!running_.load()) {
      return false;
    }
    if (held_.size() >= kMaxHeldPhones) {
      full = true;
      return false;
    }
    held_.push_back(connection);
  }
  // Told before its wait begins, so that the owner never hears of a held
  // phone after hearing that it is gone.
  if (callbacks_.OnPhoneHeld) {
    callbacks_.OnPhoneHeld(connection->hello);
  }
  return true;
}

void ParlinoServer::RemoveHeld(const std::shared_ptr<Connection>& connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  held_.erase(std::remove(held_.begin(), held_.end(), connection), held_.end());
}

void ParlinoServer::AcceptLoop(Socket listener) {
  while (running_.load()) {
    if (WaitForSocket(listener.get(), SocketDirection::Read, -1, stop_wake_) == SocketWait::Stopped) {
      break;
    }
    sockaddr_in peer{};
    SockLen peer_size = sizeof peer;
    Socket socket(::accept(listener.get(), reinterpret_cast<sockaddr*>(&peer), &peer_size));
    if (!socket.valid()) {
      const int error = LastSocketError();
      if (!running_.load() || AcceptFailureEndsLoop(error)) {
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    // Winsock gives the accepted socket the listening socket's properties,
    // its non-blocking mode among them. The receives wait in blocking mode;
    // replies never block in either (SendOrWake). Urgent data is taken as the
    // stream's, so that no wait mistakes it for something else.
    if (!SetSocketBlocking(socket.get(), true)) {
      continue;
    }
    TakeUrgentDataInline(socket.get());
    // A phone that drops off the Wi-Fi sends nothing more, not even a close:
    // keep-alive probes end such a connection within about 30 s, so that
    // its text leaves the screen and a held phone's prompt goes away.
    SetKeepAlive(socket.get());
    HandleAccepted(std::move(socket), peer);
  }
}

void ParlinoServer::HandleAccepted(Socket socket, const sockaddr_in& address) {
  const std::string peer = FormatPeerAddress(address);
  const std::uint32_t source = ntohl(address.sin_addr.s_addr);
  if (callbacks_.AcceptSource && !callbacks_.AcceptSource(source)) {
    LogWarn("ParlinoServer: refused " + peer + ", not on the local network");
    ShutdownSocket(socket.get());
    TellRefused(callbacks_, source, RefusalReason::NotLocalNetwork);
    return;
  }
  SendLine(socket.get(), BuildWelcome(kServerName, kServerVersion, kProtocolVersion));

  std::string leftover;
  ClientMessage message;
  const HelloWait hello_wait = WaitForHello(socket.get(), kHelloTimeoutMs, leftover, message);
  if (hello_wait != HelloWait::Received) {
    ShutdownSocket(socket.get());
    if (hello_wait == HelloWait::Refused) {
      TellRefused(callbacks_, source, RefusalReason::NoHello);
    }
    return;
  }

  PhoneHello hello;
  hello.id = NextPhoneId();
  hello.peer = peer;
  hello.address = source;
  hello.client = std::move(message.client);
  hello.version = std::move(message.version);
  Admission admission = Admission::Serve;
  std::uint64_t reviews_seen = 0;
  {
    // Before the gate is asked: a change of its rules after this point is
    // looked at again when the phone takes the slot (Activate).
    std::lock_guard<std::mutex> lock(mutex_);
    reviews_seen = reviews_;
  }
  if (callbacks_.AdmitPhone) {
    hello.hardware_address = LookupHardwareAddress(source);
    admission = callbacks_.AdmitPhone(hello);
  }
  const std::string who = peer + " (" + LogSafeText(hello.client) + ")";
  if (admission == Admission::Refuse) {
    LogWarn("ParlinoServer: refused " + who);
    SendLine(socket.get(), BuildBye("refused"));
    ShutdownSocket(socket.get());
    TellRefused(callbacks_, source, RefusalReason::AskedTooOften);
    return;
  }

  auto connection = std::make_shared<Connection>(std::move(socket), std::move(hello));
  connection->reviews_seen = reviews_seen;
  if (!connection->wake.Open() || !connection->decided.Open()) {
    ShutdownSocket(connection->socket.get());
    return;  // as a failed handshake: the active phone stays
  }
  ReapWorkers();

  if (admission == Admission::Hold) {
    // The phones that wait keep their places: a newer one never pushes one
    // out, or any device on the network could keep the user's own phone from
    // ever being asked about.
    bool full = false;
    if (!AddHeld(connection, full)) {
      if (full) {
        LogWarn("ParlinoServer: refused " + who + ", " + std::to_string(kMaxHeldPhones) +
                " phones wait already");
        SendLine(connection->socket.get(), BuildBye("refused"));
        ShutdownSocket(connection->socket.get());
        TellRefused(callbacks_, source, RefusalReason::TooManyWaiting);
      }
      return;  // the socket closes with the connection
    }
    LogWarn("ParlinoServer: holding " + who + " until the user answers");
    if (!StartWorker(connection, [this, connection, leftover = std::move(leftover)]() mutable {
          HoldLoop(std::move(connection), std::move(leftover));
        })) {
      RemoveHeld(connection);
      if (callbacks_.OnHeldPhoneGone) {
        callbacks_.OnHeldPhoneGone(connection->hello.id);
      }
    }
    return;
  }

  bool took_over = false;
  if (!Activate(connection, took_over)) {
    connection->MarkFinished();
    return;  // the socket closes with the connection
  }
  LogWarn("ParlinoServer: accepted " + peer);
  if (!StartWorker(connection, [this, connection, leftover = std::move(leftover), took_over]() mutable {
        Socket own = std::move(connection->socket);
        if (auto again = ConnectionLoop(std::move(connection), std::move(own), leftover, took_over)) {
          HoldLoop(std::move(again), std::move(leftover));
        }
      })) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (active_ == connection) {
      active_.reset();
    }
  }
}

bool ParlinoServer::StartWorker(const std::shared_ptr<Connection>& connection, std::function<void()> body) {
  auto done = std::make_shared<std::atomic<bool>>(false);
  try {
    std::thread thread = start_thread_([body = std::move(body), done]() mutable {
      body();
      done->store(true);
    });
    workers_.push_back(Worker{std::move(thread), std::move(done)});
    return true;
  } catch (const std::exception&) {
    LogError("ParlinoServer: could not start a connection thread for " + connection->hello.peer);
    // No thread took the socket over, so it is still this thread's to close;
    // and nothing will report for it, so a phone after it need not wait.
    ShutdownSocket(connection->socket.get());
    connection->socket.Reset();
    connection->MarkFinished();
    return false;
  }
}

void ParlinoServer::ReapWorkers() {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (it->done->load()) {
      if (it->thread.joinable()) {
        it->thread.join();
      }
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

ParlinoServer::HelloWait ParlinoServer::WaitForHello(SocketHandle socket, unsigned timeout_ms,
                                                     std::string& leftover, ClientMessage& hello) {
  leftover.clear();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);

  std::string buffer;
  char chunk[kReceiveChunkBytes];
  std::size_t line_feed = std::string::npos;
  while (line_feed == std::string::npos) {
    if (!running_.load()) {
      return HelloWait::Gone;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return HelloWait::Refused;
    }
    // Each receive may wait the whole time-out: the deadline is checked
    // between receives, so a phone that trickles bytes is dropped within
    // about twice the time-out.
    long received = -1;
    const SocketWait wait =
        ReceiveOrWake(socket, chunk, sizeof chunk, static_cast<int>(timeout_ms), stop_wake_, received);
    if (wait == SocketWait::TimedOut) {
      return HelloWait::Refused;
    }
    // A peer that only looked whether the port answers, and left, was not
    // turned away: it is not told as a refusal.
    if (wait != SocketWait::Ready || received <= 0) {
      return HelloWait::Gone;
    }
    const std::size_t searched = buffer.size();
    buffer.append(chunk, static_cast<std::size_t>(received));
    line_feed = buffer.find('\n', searched);
    // The hello's own length, as for every line: what follows it in the same
    // receive is the next line's.
    if ((line_feed == std::string::npos ? buffer.size() : line_feed + 1) > kMaxBufferedBytes) {
      return HelloWait::Refused;
    }
  }

  std::string_view first(buffer.data(), line_feed);
  if (!first.empty() && first.back() == '\r') {
    first.remove_suffix(1);
  }
  if (!ParseClientMessage(first, hello) || hello.type != MessageType::Hello) {
    return HelloWait::Refused;
  }
  leftover = buffer.substr(line_feed + 1);
  return HelloWait::Received;
}

std::shared_ptr<ParlinoServer::Connection> ParlinoServer::CloseActiveClient(std::string_view reason) {
  std::string bye = BuildBye(reason);
  std::shared_ptr<Connection> connection;
  {
    // The bye is handed over in the same step as the slot, so the connection
    // thread, which looks at the slot under this lock when it ends, finds it.
    std::lock_guard<std::mutex> lock(mutex_);
    connection.swap(active_);
    if (connection) {
      connection->bye = std::move(bye);
    }
  }
  if (connection) {
    connection->wake.Wake();
  }
  return connection;
}

bool ParlinoServer::Activate(const std::shared_ptr<Connection>& connection, bool& took_over) {
  std::lock_guard<std::mutex> activation(activation_mutex_);
  took_over = CloseActiveClient("replaced") != nullptr;
  bool missed_review = false;
  // Also when that phone left by itself: its disconnect may not be reported
  // yet, and the owner must hear it before this phone's connect.
  if (last_active_) {
    last_active_->WaitFinished();
  }
  {
    // Stop clears the running flag before it empties the slot: a phone that
    // gets here after that point is closed instead of becoming a client that
    // Stop would never see.
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_.load()) {
      return false;
    }
    active_ = connection;
    missed_review = connection->reviews_seen != reviews_;
  }
  last_active_ = connection;
  // The settings changed while this phone was on its way in: it is asked
  // about again now that it is in the slot, so that it cannot type on the
  // strength of rules that no longer hold.
  if (missed_review) {
    ReviewActivePhone();
  }
  return true;
}

namespace {

// Replies wait until the socket can take them, but not past the end of the
// connection (`wake`), and not longer than `stall_ms` without progress: a
// phone that stopped reading must not hold the thread, or whoever ends the
// connection would wait for it for good. After a stall nothing more is sent,
// nor after a line that went out only in part (the wake came in its middle):
// whatever followed would join that half line at the phone.
class ReplySender {
 public:
  ReplySender(SocketHandle socket, unsigned stall_ms)
      : socket_(socket), stall_ms_(static_cast<int>(stall_ms)) {}

  void Send(std::string_view line, const SocketWake& wake) {
    bool begun = false;
    while (!line.empty() && !stalled_) {
      long sent = -1;
      const SocketWait wait = SendOrWake(socket_, line.data(), line.size(), stall_ms_, &wake, sent);
      if (wait != SocketWait::Ready || sent <= 0) {
        stalled_ = wait == SocketWait::TimedOut || begun;
        return;
      }
      line.remove_prefix(static_cast<std::size_t>(sent));
      begun = true;
    }
  }
  // Nothing more may be sent: the phone stopped reading, or a line was cut.
  bool stalled() const { return stalled_; }

 private:
  SocketHandle socket_;
  int stall_ms_;
  bool stalled_ = false;
};

enum class ReadTurn {
  GoOn,      // lines dispatched, the connection goes on
  Ended,     // the peer closed, a bye or a bad line came, or the buffer overflowed
  Woken,     // the wake was woken
  TimedOut,  // nothing within the time-out
};

// One turn of a connection's reading: waits up to `timeout_ms` (negative: no
// limit) for bytes or the wake, receives them and dispatches the complete
// lines (a line past the limit is answered with its error and bye).
ReadTurn ReadAndDispatch(SocketHandle socket, std::string& buffer, const SocketWake& wake, int timeout_ms,
                         const ServerCallbacks& callbacks, DispatchMode mode,
                         const std::function<void(std::string_view)>& send) {
  char chunk[kReceiveChunkBytes];
  long received = -1;
  switch (ReceiveOrWake(socket, chunk, sizeof chunk, timeout_ms, wake, received)) {
    case SocketWait::Stopped:
      // Bytes that came with the wake are the stream's: a connection that
      // goes on reads them first (a served phone held again drops them as a
      // held phone's), one that ends drops them with the rest of its buffer.
      // A held phone's are dropped now, as all it says while it waits, so
      // that an answer that allows it never serves them.
      if (received > 0) {
        buffer.append(chunk, static_cast<std::size_t>(received));
        if (mode == DispatchMode::Hold && !DispatchLines(buffer, callbacks, send, mode)) {
          return ReadTurn::Ended;
        }
      }
      return ReadTurn::Woken;
    case SocketWait::TimedOut:
      return ReadTurn::TimedOut;
    case SocketWait::Ready:
      break;
  }
  if (received <= 0) {
    return ReadTurn::Ended;
  }
  buffer.append(chunk, static_cast<std::size_t>(received));
  return DispatchLines(buffer, callbacks, send, mode) ? ReadTurn::GoOn : ReadTurn::Ended;
}

}  // namespace

void ParlinoServer::HoldLoop(std::shared_ptr<Connection> connection, std::string buffer) {
  // Round again each time an allowed phone is sent back to wait.
  for (;;) {
    Socket socket = std::move(connection->socket);
    const PhoneHello& hello = connection->hello;
    ReplySender sender(socket.get(), send_stall_ms_);
    const std::function<void(std::string_view)> send = [&](std::string_view line) {
      sender.Send(line, connection->decided);
    };

    // The phone is kept alive, and heard only for its pings and its bye, until
    // the user answers or the time is up. What it says meanwhile is dropped,
    // and stays dropped once it is allowed.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(hold_timeout_ms_);
    bool phone_left = !DispatchLines(buffer, callbacks_, send, DispatchMode::Hold);
    while (!phone_left && !sender.stalled()) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        break;
      }
      const ReadTurn turn =
          ReadAndDispatch(socket.get(), buffer, connection->decided, static_cast<int>(left.count()),
                          callbacks_, DispatchMode::Hold, send);
      if (turn == ReadTurn::Woken) {
        break;
      }
      phone_left = turn == ReadTurn::Ended;
    }

    Answer answer;
    std::string bye;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      // Still there when the phone left, stalled, or the time is up.
      held_.erase(std::remove(held_.begin(), held_.end(), connection), held_.end());
      answer = connection->answer;
      connection->reviews_seen = reviews_;  // the user's own yes, given now
      bye = std::move(connection->bye);
    }
    if (answer == Answer::Allowed && !phone_left && !sender.stalled()) {
      bool took_over = false;
      if (Activate(connection, took_over)) {
        LogWarn("ParlinoServer: accepted " + hello.peer);
        // Only what the phone says from now on is served; a line it had begun
        // while it waited is its own, and is taken once complete.
        connection = ConnectionLoop(std::move(connection), std::move(socket), buffer, took_over);
        if (connection) {
          continue;
        }
        return;
      }
      bye = BuildBye("shutdown");
    }
    // Nobody answered in time. Taken out of the held phones above, it can no
    // longer be answered, so this is its one refusal.
    const bool not_answered = answer == Answer::None && !phone_left && !sender.stalled();
    if (not_answered) {
      bye = BuildBye("refused");
    }

    if (!bye.empty() && !phone_left) {
      SendIfRoom(socket.get(), bye);
    }
    ShutdownSocket(socket.get());
    socket.Reset();
    if (not_answered) {
      TellRefused(callbacks_, hello.address, RefusalReason::NotAnswered);
    }
    if (callbacks_.OnHeldPhoneGone) {
      callbacks_.OnHeldPhoneGone(hello.id);
    }
    LogWarn("ParlinoServer: not allowed " + hello.peer);
    connection->MarkFinished();
    return;
  }
}

std::shared_ptr<ParlinoServer::Connection> ParlinoServer::ConnectionLoop(
    std::shared_ptr<Connection> connection, Socket socket, std::string& buffer, bool took_over) {
  const std::string peer = connection->hello.peer;
  ReplySender sender(socket.get(), send_stall_ms_);
  const std::function<void(std::string_view)> send = [&](std::string_view line) {
    sender.Send(line, connection->wake);
  };

  if (callbacks_.OnPhoneActive) {
    callbacks_.OnPhoneActive(connection->hello, took_over);
  }
  if (callbacks_.OnClientConnected) {
    callbacks_.OnClientConnected(peer);
  }
  // Stop ends this thread as a replacement does, through the wake and with
  // its bye; a look at the running flag here instead would let the thread end
  // before Stop takes it out of the slot, and the phone would get no bye.
  // What it said before it took the slot is served only if it still holds
  // it (a review on its way in may have taken it out again).
  bool go_on = !connection->wake.woken() && DispatchLines(buffer, callbacks_, send);
  while (go_on && !sender.stalled()) {
    go_on = ReadAndDispatch(socket.get(), buffer, connection->wake, -1, callbacks_, DispatchMode::Serve,
                            send) == ReadTurn::GoOn;
  }
  if (sender.stalled()) {
    LogWarn("ParlinoServer: " + peer + " stopped reading");
  }

  std::string bye;
  bool hold_again = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (active_ == connection) {
      active_.reset();
    } else {
      bye = std::move(connection->bye);  // left by whoever took it out of the slot
      hold_again = connection->hold_again;
    }
  }
  // One send, and only if the socket can take it now: a phone that stopped
  // reading goes without its bye rather than holding Stop or the next phone.
  if (!bye.empty() && !sender.stalled()) {
    SendIfRoom(socket.get(), bye);
  }
  // A phone sent back to wait keeps its connection, under a new id: an
  // answer given to its earlier prompt must not count for this wait.
  std::shared_ptr<Connection> again;
  if (hold_again && !sender.stalled()) {
    PhoneHello hello = connection->hello;
    hello.id = NextPhoneId();
    again = std::make_shared<Connection>(std::move(socket), std::move(hello));
    if (!again->wake.Open() || !again->decided.Open()) {
      socket = std::move(again->socket);
      again.reset();
    }
  }
  if (!again) {
    ShutdownSocket(socket.get());
    socket.Reset();
  }
  // Its disconnect comes first, as for any phone that stops being active:
  // the owner drops its live text, and no phone after it waits for more.
  if (callbacks_.OnClientDisconnected) {
    callbacks_.OnClientDisconnected();
  }
  LogWarn("ParlinoServer: client disconnected " + peer);
  connection->MarkFinished();
  if (!again) {
    return nullptr;
  }
  bool full = false;
  if (!AddHeld(again, full)) {
    const std::string last = BuildBye(full ? "refused" : "shutdown");
    SendIfRoom(again->socket.get(), last);
    ShutdownSocket(again->socket.get());
    // Sent back to wait, it found no place: turned away for want of room, not
    // by the review, and no prompt will tell the user of it.
    if (full) {
      TellRefused(callbacks_, again->hello.address, RefusalReason::TooManyWaiting);
    }
    return nullptr;
  }
  LogWarn("ParlinoServer: holding " + peer + " again until the user answers");
  return again;
}

}  // namespace lumora
