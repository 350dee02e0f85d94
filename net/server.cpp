#include "net/server.h"

#include <chrono>
#include <exception>
#include <utility>

#include "app/log.h"
#include "net/protocol.h"

namespace lumora {
namespace {

void LogWarn(const std::string& message) { Log(LogLevel::Warn, "APP", message); }
void LogError(const std::string& message) { Log(LogLevel::Error, "APP", message); }

}  // namespace

void SendLine(SocketHandle socket, std::string_view line) {
  if (socket == kInvalidSocket) {
    return;
  }
  while (!line.empty()) {
    const long sent = SendSome(socket, line.data(), line.size());
    if (sent <= 0) {
      return;
    }
    line.remove_prefix(static_cast<std::size_t>(sent));
  }
}

bool DispatchLines(std::string& buffer, const ServerCallbacks& callbacks,
                   const std::function<void(std::string_view line)>& send) {
  // Lines are taken by offset and the consumed bytes erased once at the end,
  // so a buffer full of short lines costs one move, not one per line.
  std::size_t start = 0;
  bool go_on = true;
  while (go_on && start < buffer.size()) {
    const std::size_t line_feed = buffer.find('\n', start);
    if (line_feed == std::string::npos) {
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
  // sockets itself; so does the active connection's thread.
  stop_wake_.Wake();
  CloseActiveClient("shutdown");
  if (accept_thread_.joinable()) {
    accept_thread_.join();
  }
  bound_port_ = 0;
  if (connection_thread_.joinable()) {
    connection_thread_.join();
  }
  LogWarn("ParlinoServer: stopped");
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
    // its non-blocking mode among them; a reply must never be cut short by a
    // full send buffer.
    if (!SetSocketBlocking(socket.get(), true)) {
      continue;
    }
    HandleAccepted(std::move(socket), FormatPeerAddress(peer));
  }
}

void ParlinoServer::HandleAccepted(Socket socket, const std::string& peer) {
  SendLine(socket.get(), BuildWelcome(kServerName, kServerVersion, kProtocolVersion));

  std::string leftover;
  if (!WaitForHello(socket.get(), kHelloTimeoutMs, leftover)) {
    ShutdownSocket(socket.get());
    return;
  }

  auto connection = std::make_shared<Connection>(std::move(socket));
  if (!connection->wake.Open()) {
    ShutdownSocket(connection->socket.get());
    return;  // as a failed handshake: the active phone stays
  }

  CloseActiveClient("replaced");
  if (connection_thread_.joinable()) {
    connection_thread_.join();
  }
  {
    // Stop clears the running flag before it empties the slot: a handshake
    // that finished after that point is closed here instead of becoming a
    // client that Stop would never see.
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_.load()) {
      return;  // the socket closes with the connection
    }
    active_ = connection;
  }
  LogWarn("ParlinoServer: accepted " + peer);

  try {
    connection_thread_ = start_thread_([this, connection, peer, leftover = std::move(leftover)]() mutable {
      ConnectionLoop(std::move(connection), std::move(peer), std::move(leftover));
    });
  } catch (const std::exception&) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (active_ == connection) {
        active_.reset();
      }
    }
    LogError("ParlinoServer: could not start a connection thread for " + peer);
    // No thread took the socket over, so it is still this thread's to close.
    ShutdownSocket(connection->socket.get());
    connection->socket.Reset();
  }
}

bool ParlinoServer::WaitForHello(SocketHandle socket, unsigned timeout_ms, std::string& leftover) {
  leftover.clear();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);

  std::string buffer;
  char chunk[kReceiveChunkBytes];
  std::size_t line_feed = std::string::npos;
  while (line_feed == std::string::npos) {
    if (!running_.load() || std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    // Each receive may wait the whole time-out: the deadline is checked
    // between receives, so a phone that trickles bytes is dropped within
    // about twice the time-out.
    if (WaitForSocket(socket, SocketDirection::Read, static_cast<int>(timeout_ms), stop_wake_) !=
        SocketWait::Ready) {
      return false;
    }
    const long received = ReceiveSome(socket, chunk, sizeof chunk);
    if (received <= 0) {
      return false;
    }
    const std::size_t searched = buffer.size();
    buffer.append(chunk, static_cast<std::size_t>(received));
    if (buffer.size() > kMaxBufferedBytes) {
      return false;
    }
    line_feed = buffer.find('\n', searched);
  }

  std::string_view first(buffer.data(), line_feed);
  if (!first.empty() && first.back() == '\r') {
    first.remove_suffix(1);
  }
  ClientMessage message;
  if (!ParseClientMessage(first, message) || message.type != MessageType::Hello) {
    return false;
  }
  leftover = buffer.substr(line_feed + 1);
  return true;
}

void ParlinoServer::CloseActiveClient(std::string_view reason) {
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
}

void ParlinoServer::ConnectionLoop(std::shared_ptr<Connection> connection, std::string peer,
                                   std::string leftover) {
  Socket socket = std::move(connection->socket);
  const SocketWake& wake = connection->wake;
  // A reply waits until the socket can take it, but not past the end of the
  // connection: a phone that stopped reading must not hold this thread, or
  // whoever ended the connection would wait for it for good.
  const auto send = [&socket, &wake](std::string_view line) {
    while (!line.empty()) {
      if (WaitForSocket(socket.get(), SocketDirection::Write, -1, wake) != SocketWait::Ready) {
        return;
      }
      const long sent = SendSome(socket.get(), line.data(), line.size());
      if (sent <= 0) {
        return;
      }
      line.remove_prefix(static_cast<std::size_t>(sent));
    }
  };

  if (callbacks_.OnClientConnected) {
    callbacks_.OnClientConnected(peer);
  }
  // Stop ends this thread as a replacement does, through the wake and with
  // its bye; a look at the running flag here instead would let the thread end
  // before Stop takes it out of the slot, and the phone would get no bye.
  std::string buffer = std::move(leftover);
  bool go_on = DispatchLines(buffer, callbacks_, send);
  char chunk[kReceiveChunkBytes];
  while (go_on) {
    if (WaitForSocket(socket.get(), SocketDirection::Read, -1, wake) != SocketWait::Ready) {
      break;
    }
    const long received = ReceiveSome(socket.get(), chunk, sizeof chunk);
    if (received <= 0) {
      break;
    }
    buffer.append(chunk, static_cast<std::size_t>(received));
    if (buffer.size() > kMaxBufferedBytes) {
      send(BuildError("frame_too_long", "line exceeds 65536 bytes"));
      send(BuildBye("protocol_error"));
      break;
    }
    go_on = DispatchLines(buffer, callbacks_, send);
  }

  std::string bye;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (active_ == connection) {
      active_.reset();
    } else {
      bye = std::move(connection->bye);  // left by whoever took it out of the slot
    }
  }
  // One send, and only if the socket can take it now: a phone that stopped
  // reading goes without its bye rather than holding Stop or the next phone.
  if (!bye.empty() &&
      PollSocket(socket.get(), SocketDirection::Write, kInvalidSocket, 0) == SocketPoll::Ready) {
    SendSome(socket.get(), bye.data(), bye.size());
  }
  ShutdownSocket(socket.get());
  socket.Reset();
  connection.reset();
  if (callbacks_.OnClientDisconnected) {
    callbacks_.OnClientDisconnected();
  }
  LogWarn("ParlinoServer: client disconnected " + peer);
}

}  // namespace lumora
