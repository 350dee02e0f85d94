#pragma once

// The phone link's wire format: one JSON object per line, UTF-8, ended by a
// line feed. Pure functions: no sockets, no threads, no logging.

#include <cstdint>
#include <string>
#include <string_view>

struct cJSON;

namespace lumora {

inline constexpr std::string_view kServerName = "Parlino";
inline constexpr std::string_view kServerVersion = "0.1.0";
inline constexpr int kProtocolVersion = 1;

enum class MessageType : int {
  Unrecognized = 0,
  Hello = 1,
  Text = 2,
  Commit = 3,
  Clear = 4,
  Key = 5,
  Ping = 6,
  Bye = 7,
};

// One parsed phone-to-PC line. Fields the message type does not carry keep
// their defaults.
struct ClientMessage {
  MessageType type = MessageType::Unrecognized;
  std::string client;
  std::string version;
  std::string content;
  bool press_enter = true;
  std::string name;
  std::int64_t ts = 0;
};

// Parses one line (without its line feed). True for every valid message,
// Unrecognized types included. On false, `error` (when given) receives the
// reason ("invalid json", "missing type", "text.content missing" or
// "key.name missing") and `message` must not be used.
bool ParseClientMessage(std::string_view line, ClientMessage& message, std::string* error = nullptr);

// Builders of the PC's lines; each result ends with one line feed.
std::string BuildWelcome(std::string_view server, std::string_view version, int protocol);
std::string BuildAck(std::string_view of);
std::string BuildPong(std::int64_t ts);
std::string BuildError(std::string_view code, std::string_view message);
std::string BuildBye(std::string_view reason);

// Prints `object` compactly and appends a line feed; takes ownership of
// `object` and releases it. A print failure (no memory) gives "\n".
std::string SerializeLine(cJSON* object);

// A JSON number as a signed 64-bit ts: truncated toward zero, saturated at the
// bounds of the range (NaN gives 0).
std::int64_t TruncateToInt64(double value);

}  // namespace lumora
