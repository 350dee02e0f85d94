#include "tests/net/test_phone.h"

#include <fstream>
#include <iterator>
#include <thread>

#include "log/log.h"

namespace lumora::testing {

TestPhone::~TestPhone() { Close(); }

bool TestPhone::Connect(unsigned port, int receive_buffer) {
  Close();
  if (!EnsureWinsock()) {
    return false;
  }
  socket_.Reset(OpenTcpSocket());
  if (!socket_.valid()) {
    return false;
  }
  if (receive_buffer > 0) {
    // Before connecting, so that the window the server sees is small.
    ::setsockopt(socket_.get(), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receive_buffer),
                 sizeof receive_buffer);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<unsigned short>(port));
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  if (::connect(socket_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    Close();
    return false;
  }
  closed_ = false;
  timed_out_ = false;
  pending_.clear();
  return true;
}

bool TestPhone::Handshake(unsigned port, const std::string& client) {
  if (!Connect(port)) {
    return false;
  }
  if (ReadLine().rfind("{\"type\":\"welcome\"", 0) != 0) {
    return false;
  }
  Send("{\"type\":\"hello\",\"client\":\"" + client + "\",\"version\":\"1.0\"}\n");
  return true;
}

void TestPhone::Send(const std::string& bytes) { SendLine(socket_.get(), bytes); }

bool TestPhone::SendWhenWritable(const std::string& bytes, milliseconds timeout) {
  if (PollSocket(socket_.get(), SocketDirection::Write, kInvalidSocket, static_cast<int>(timeout.count())) !=
      SocketPoll::Ready) {
    return false;
  }
  std::string_view rest(bytes);
  while (!rest.empty()) {
    const long sent = SendSome(socket_.get(), rest.data(), rest.size());
    if (sent <= 0) {
      return false;  // the server closed the connection
    }
    rest.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

std::string TestPhone::ReadLine(milliseconds timeout) {
  timed_out_ = false;
  const auto deadline = Clock::now() + timeout;
  char chunk[4096];
  for (;;) {
    const std::size_t line_feed = pending_.find('\n');
    if (line_feed != std::string::npos) {
      std::string line = pending_.substr(0, line_feed);
      pending_.erase(0, line_feed + 1);
      return line;
    }
    if (closed_ || !socket_.valid()) {
      closed_ = true;
      return "";
    }
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      timed_out_ = true;
      return "";
    }
    if (PollSocket(socket_.get(), SocketDirection::Read, kInvalidSocket, static_cast<int>(left)) ==
        SocketPoll::Nothing) {
      continue;
    }
    const long received = ReceiveSome(socket_.get(), chunk, sizeof chunk);
    if (received > 0) {
      pending_.append(chunk, static_cast<std::size_t>(received));
    } else {
      closed_ = true;  // orderly close or reset
    }
  }
}

bool TestPhone::WaitForClose(std::vector<std::string>* lines, milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    std::string line = ReadLine(left);
    if (closed_ && line.empty()) {
      return true;
    }
    if (timed_out_) {
      return false;
    }
    if (lines != nullptr) {
      lines->push_back(std::move(line));
    }
  }
  return false;
}

void TestPhone::Close() { socket_.Reset(); }

std::string TestPhone::LocalPeer() const {
  sockaddr_in local{};
  SockLen size = sizeof local;
  ::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&local), &size);
  return FormatPeerAddress(local);
}

ServerCallbacks EventRecorder::Callbacks() {
  ServerCallbacks callbacks;
  callbacks.OnClientConnected = [this](const std::string& peer) { Add("connect " + peer); };
  callbacks.OnClientDisconnected = [this] { Add("disconnect"); };
  callbacks.OnText = [this](const std::string& content) { Add("text " + content); };
  callbacks.OnCommit = [this](bool press_enter) { Add(press_enter ? "commit 1" : "commit 0"); };
  callbacks.OnClear = [this] { Add("clear"); };
  callbacks.OnKey = [this](const std::string& name) { Add("key " + name); };
  callbacks.OnError = [this](const std::string& code, const std::string& message) {
    Add("error " + code + " " + message);
  };
  return callbacks;
}

ServerCallbacks EventRecorder::GatedCallbacks(std::function<Admission(const PhoneHello&)> admit) {
  ServerCallbacks callbacks = Callbacks();
  callbacks.AdmitPhone = std::move(admit);
  callbacks.OnPhoneHeld = [this](const PhoneHello& hello) {
    held_id_.store(hello.id);
    Add("held " + hello.client);
  };
  callbacks.OnHeldPhoneGone = [this](std::uint64_t) { Add("gone"); };
  callbacks.OnPhoneActive = [this](const PhoneHello& hello, bool took_over) {
    Add("active " + hello.client + (took_over ? " took over" : ""));
  };
  return callbacks;
}

void EventRecorder::Add(std::string event) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::move(event));
  }
  changed_.notify_all();
}

std::vector<std::string> EventRecorder::Events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

bool EventRecorder::WaitForCount(std::size_t count, milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return events_.size() >= count; });
}

bool EventRecorder::WaitFor(const std::string& event, milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    for (const std::string& e : events_) {
      if (e == event) {
        return true;
      }
    }
    return false;
  });
}

std::vector<std::string> LogLinesContaining(const std::string& needle) {
  std::ifstream in(LogDirectory() / kLogFileName, std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (line.find(needle) != std::string::npos) {
      lines.push_back(line);
    }
  }
  return lines;
}

}  // namespace lumora::testing
