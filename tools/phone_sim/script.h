#pragma once

// The phone simulator's script: one step per line. Pure functions.
//
//   {"type":"clear"}           a line starting with { or [ goes out as written
//   text how are you           {"type":"text","content":"how are you"}
//   commit [noenter]           commit, press_enter true (false with noenter)
//   clear | key NAME | ping [TS]
//   raw BYTES                  bytes with \n \r \t \\ \xNN escapes, nothing added
//   sleep MS
//   expect TYPE [FIELD=VALUE]...   the next received line must match
//   bye                        then the PC must close the connection
//   wait-close                 the PC must close the connection
//   close                      close without bye
//   # comment

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/phone_sim/wire.h"

namespace lumora {

enum class StepKind : int {
  Send = 0,
  Ping = 1,  // built when sent, so that a missing ts can come from the clock
  Bye = 2,
  Sleep = 3,
  Expect = 4,
  WaitClose = 5,
  Close = 6,
};

struct ScriptStep {
  StepKind kind = StepKind::Send;
  std::string bytes;               // Send: exactly what goes on the wire
  bool raw = false;                // Send: from `raw`, so shown escaped
  std::optional<std::int64_t> ts;  // Ping
  unsigned milliseconds = 0;       // Sleep
  std::string type;                // Expect
  std::vector<ExpectedField> fields;
  int line_number = 0;
  std::string source;  // the line as written, for messages
};

// Whether nothing can follow the step on the same connection.
bool EndsConnection(StepKind kind);

enum class ScriptLine : int { Step = 0, Nothing = 1, Invalid = 2 };

// One line without its line ending. Step: `step` holds it (line_number and
// source are left to the caller). Nothing: blank or a comment. Invalid:
// `error` says why.
ScriptLine ParseScriptLine(std::string_view line, ScriptStep& step, std::string& error);

// A whole script; LF or CR LF line ends. False, with no steps and with
// "line N: reason" in `error`, for the first bad line or for any step after
// one that ends the connection.
bool ParseScript(std::string_view text, std::vector<ScriptStep>& steps, std::string& error);

// The bytes that `raw` sends: \n \r \t \\ and \xNN (two hex digits) decode,
// everything else is taken as written. False on any other escape or a
// truncated one.
bool DecodeEscapes(std::string_view text, std::string& bytes, std::string& error);

// Decimal numbers as the script and the command line write them: digits only
// (a leading minus for the signed one), no blanks, within range.
bool ParseUnsigned(std::string_view text, unsigned max, unsigned& value);
bool ParseInt64(std::string_view text, std::int64_t& value);

}  // namespace lumora
