#pragma once

// Test doubles for the phone link: a phone that talks to the server over
// 127.0.0.1, and a recorder of the server's callbacks.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "net/server.h"
#include "net/socket_platform.h"

namespace lumora::testing {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class TestPhone {
 public:
  TestPhone() = default;
  ~TestPhone();
  TestPhone(const TestPhone&) = delete;
  TestPhone& operator=(const TestPhone&) = delete;

  // Connects to 127.0.0.1:port; false when the connection is refused. A
  // small receive buffer (SO_RCVBUF, bytes; 0 keeps the system's) makes a
  // phone that stops reading push back soon.
  bool Connect(unsigned port, int receive_buffer = 0);
  // Connects, reads the welcome line and sends a hello.
  bool Handshake(unsigned port, const std::string& client = "test-phone");
  void Send(const std::string& bytes);
  // Sends `bytes` only once the socket can take more, waiting at most
  // `timeout`; false when it could not (the server stopped reading, or
  // closed the connection).
  bool SendWhenWritable(const std::string& bytes, milliseconds timeout);
  // The next received line without its line feed; "" with `closed` true when
  // the server closed first, or "" with `timed_out` true.
  std::string ReadLine(milliseconds timeout = milliseconds(5000));
  // Reads until the server closes; true when it closed within the time-out.
  // Lines received meanwhile are appended to `lines`.
  bool WaitForClose(std::vector<std::string>* lines = nullptr, milliseconds timeout = milliseconds(5000));
  void Close();

  bool closed() const { return closed_; }
  bool timed_out() const { return timed_out_; }
  // "127.0.0.1:port" of this phone, as the server formats its peer.
  std::string LocalPeer() const;

 private:
  Socket socket_;
  std::string pending_;
  bool closed_ = false;
  bool timed_out_ = false;
};

// Records every callback as one line of text ("connect 127.0.0.1:5000",
// "text hello", "commit 1", "clear", "key enter", "error bad_frame invalid
// json", "disconnect"), safe to read while the server runs.
class EventRecorder {
 public:
  ServerCallbacks Callbacks();
  // Callbacks() and a gate: `admit` decides each phone; a held phone is
  // recorded as "held <client>", its end as "gone", a phone becoming active as
  // "active <client>" or "active <client> took over".
  ServerCallbacks GatedCallbacks(std::function<Admission(const PhoneHello&)> admit);
  // The id of the phone held last (0: none yet).
  std::uint64_t held_id() const { return held_id_.load(); }
  std::vector<std::string> Events() const;
  // Waits until `count` events were recorded; false on time-out.
  bool WaitForCount(std::size_t count, milliseconds timeout = milliseconds(5000)) const;
  // Waits until the given event is among the recorded ones.
  bool WaitFor(const std::string& event, milliseconds timeout = milliseconds(5000)) const;

 private:
  void Add(std::string event);

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> events_;
  std::atomic<std::uint64_t> held_id_{0};
};

// The lines of the log file that contain `needle`, in file order.
std::vector<std::string> LogLinesContaining(const std::string& needle);

}  // namespace lumora::testing
