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

  const SocketHandle listener = OpenTcpSocket();
  if (listener == kInvalidSocket) {
    LogError("ParlinoServer: socket() failed");
    return false;
  }
  SetReuseAddress(listener);

  // A port beyond 16 bits would silently wrap to another port; refuse it as
  // the bind failure it is.
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(static_cast<unsigned short>(port));
  if (port > 65535 || ::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    LogError("ParlinoServer: bind() failed on port " + std::to_string(port));
    CloseSocket(listener);
    return false;
  }
  if (::listen(listener, kListenBacklog) != 0) {
    LogError("ParlinoServer: listen() failed");
    CloseSocket(listener);
    return false;
  }

  sockaddr_in bound{};
  SockLen bound_size = sizeof bound;
  if (::getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &bound_size) == 0) {
    bound_port_ = ntohs(bound.sin_port);
  }
  listen_socket_ = listener;
  port_ = port;
  running_.store(true);
  LogWarn("ParlinoServer: listening on port " + std::to_string(port));

  try {
    accept_thread_ = std::thread(&ParlinoServer::AcceptLoop, this);
  } catch (...) {
    // Not serving without the accept thread: say so through IsRunning too.
    running_.store(false);
    CloseSocket(listen_socket_);
    listen_socket_ = kInvalidSocket;
    bound_port_ = 0;
    throw;
  }
  return true;
}

void ParlinoServer::Stop() {
  if (!running_.exchange(false)) {
    return;
  }
  CloseActiveClient("shutdown");
  {
    // A handshake in progress would hold the accept thread for up to two
    // seconds; cutting its socket makes the receive fail now. Done under the
    // lock so that the accept thread cannot close the socket in between.
    std::lock_guard<std::mutex> lock(mutex_);
    if (handshake_socket_ != kInvalidSocket) {
      ShutdownSocket(handshake_socket_);
      if (!ShutdownWakesBlockedCalls()) {
        CloseSocket(handshake_socket_);
        handshake_closed_ = true;
      }
    }
  }
  if (listen_socket_ != kInvalidSocket) {
    ShutdownSocket(listen_socket_);
    if (!ShutdownWakesBlockedCalls()) {
      CloseSocket(listen_socket_);
      listen_socket_ = kInvalidSocket;
    }
  }
  if (accept_thread_.joinable()) {
    accept_thread_.join();
  }
  // Closed only once the accept thread is gone where the platform allows, so
  // that no new socket can take the handle while accept still uses it.
  CloseSocket(listen_socket_);
  listen_socket_ = kInvalidSocket;
  bound_port_ = 0;
  if (connection_thread_.joinable()) {
    connection_thread_.join();
  }
  LogWarn("ParlinoServer: stopped");
}

void ParlinoServer::AcceptLoop() {
  while (running_.load()) {
    sockaddr_in peer{};
    SockLen peer_size = sizeof peer;
    const SocketHandle socket = ::accept(listen_socket_, reinterpret_cast<sockaddr*>(&peer), &peer_size);
    if (socket == kInvalidSocket) {
      const int error = LastSocketError();
      if (!running_.load() || AcceptFailureEndsLoop(error)) {
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    HandleAccepted(socket, FormatPeerAddress(peer));
  }
}

void ParlinoServer::HandleAccepted(SocketHandle socket, const std::string& peer) {
  SendLine(socket, BuildWelcome(kServerName, kServerVersion, kProtocolVersion));

  bool registered = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_.load()) {
      handshake_socket_ = socket;
      registered = true;
    }
  }
  std::string leftover;
  const bool said_hello = registered && WaitForHello(socket, kHelloTimeoutMs, leftover);
  bool closed_by_stop = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    handshake_socket_ = kInvalidSocket;
    closed_by_stop = handshake_closed_;
    handshake_closed_ = false;
  }
  if (closed_by_stop) {
    return;
  }
  if (!said_hello) {
    ShutdownSocket(socket);
    CloseSocket(socket);
    return;
  }

  CloseActiveClient("replaced");
  if (connection_thread_.joinable()) {
    connection_thread_.join();
  }

  auto connection = std::make_shared<Connection>(socket);
  {
    // Stop clears the running flag before it empties the slot: a handshake
    // that finished after that point is closed here instead of becoming a
    // client that Stop would never see.
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_.load()) {
      return;  // the connection's destructor closes the socket
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
    connection->Close();
  }
}

bool ParlinoServer::WaitForHello(SocketHandle socket, unsigned timeout_ms, std::string& leftover) {
  leftover.clear();
  SetReceiveTimeout(socket, timeout_ms);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);

  std::string buffer;
  char chunk[kReceiveChunkBytes];
  std::size_t line_feed = std::string::npos;
  while (line_feed == std::string::npos) {
    if (!running_.load() || std::chrono::steady_clock::now() >= deadline) {
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
  SetReceiveTimeout(socket, 0);
  leftover = buffer.substr(line_feed + 1);
  return true;
}

void ParlinoServer::Connection::Send(std::string_view line) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!closed_) {
    SendLine(socket, line);
  }
}

void ParlinoServer::Connection::SayByeAndInterrupt(std::string_view bye) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) {
    return;
  }
  // One send: a phone that stopped reading must not hold us here.
  SendSome(socket, bye.data(), bye.size());
  ShutdownSocket(socket);
  if (!ShutdownWakesBlockedCalls()) {
    CloseSocket(socket);
    closed_ = true;
  }
}

void ParlinoServer::Connection::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!closed_) {
    ShutdownSocket(socket);
    CloseSocket(socket);
    closed_ = true;
  }
}

void ParlinoServer::CloseActiveClient(std::string_view reason) {
  std::shared_ptr<Connection> connection;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connection.swap(active_);
  }
  if (connection) {
    connection->SayByeAndInterrupt(BuildBye(reason));
  }
}

void ParlinoServer::ConnectionLoop(std::shared_ptr<Connection> connection, std::string peer,
                                   std::string leftover) {
  if (callbacks_.OnClientConnected) {
    callbacks_.OnClientConnected(peer);
  }
  const auto send = [&connection](std::string_view line) { connection->Send(line); };
  std::string buffer = std::move(leftover);
  bool go_on = DispatchLines(buffer, callbacks_, send) && running_.load();
  char chunk[kReceiveChunkBytes];
  while (go_on) {
    const long received = ReceiveSome(connection->socket, chunk, sizeof chunk);
    if (received <= 0) {
      break;
    }
    buffer.append(chunk, static_cast<std::size_t>(received));
    if (buffer.size() > kMaxBufferedBytes) {
      send(BuildError("frame_too_long", "line exceeds 65536 bytes"));
      send(BuildBye("protocol_error"));
      break;
    }
    go_on = DispatchLines(buffer, callbacks_, send) && running_.load();
  }

  bool emptied_slot = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (active_ == connection) {
      active_.reset();
      emptied_slot = true;
    }
  }
  if (emptied_slot) {
    connection->Close();
  }
  // Dropping the last reference closes the socket if nobody did; whoever ended
  // the connection may still hold it for a moment while sending its bye.
  connection.reset();
  if (callbacks_.OnClientDisconnected) {
    callbacks_.OnClientDisconnected();
  }
  LogWarn("ParlinoServer: client disconnected " + peer);
}

}  // namespace lumora
