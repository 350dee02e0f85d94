#pragma once

// What the phones tried since the program started, for the connection box:
// whether any phone has connected, and the last few connections the server
// turned away, with the reason in words. Portable.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <string>
#include <vector>

#include "net/server.h"

namespace lumora {

struct RefusedConnection {
  std::uint32_t address = 0;  // IPv4, host byte order
  RefusalReason reason{};
  std::string at;  // local time of day of the refusal, "HH:MM:SS"
};

// Kept on the UI thread only, where the server's events arrive (the wiring
// posts them there); it has no lock of its own.
class ConnectionHistory {
 public:
  // Enough for the user to see a pattern, few enough that the box still
  // fits a small screen at a large text size.
  static constexpr std::size_t kKeptRefusals = 3;

  // A phone became the active one.
  void NoteConnected() { any_connected_ = true; }
  // Newest first; beyond kKeptRefusals the oldest go.
  void NoteRefused(RefusedConnection refused);

  bool any_connected() const { return any_connected_; }
  const std::deque<RefusedConnection>& refused() const { return refused_; }

 private:
  bool any_connected_ = false;
  std::deque<RefusedConnection> refused_;
};

// The reason in plain Chinese words (UTF-8).
std::string RefusalReasonText(RefusalReason reason);

// The box's lines (UTF-8): whether a phone has connected since the start,
// then the refusals newest first ("  22:15:03  192.168.1.23  <reason>"), or
// a line that says there were none.
std::vector<std::string> ConnectionHistoryLines(const ConnectionHistory& history);

// Local time of day of `at` as "HH:MM:SS"; "--:--:--" when the system cannot
// convert it.
std::string ClockText(std::time_t at);

}  // namespace lumora
