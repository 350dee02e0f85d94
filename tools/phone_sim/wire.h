#pragma once

// The phone's side of the wire format: the lines a phone sends, and the checks
// the simulator makes on what the PC answers. Pure functions.
//
// cJSON's parser records failures in one process-wide variable, so these
// parse on one thread only (the simulator's main thread).

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumora {

// Phone-to-PC lines, each ending with one line feed.
std::string BuildHello(std::string_view client, std::string_view version);
std::string BuildText(std::string_view content);
std::string BuildCommit(bool press_enter);
std::string BuildClear();
std::string BuildKey(std::string_view name);
std::string BuildPing(std::int64_t ts);
std::string BuildPhoneBye();

// `name` of a received line must read `value`.
struct ExpectedField {
  std::string name;
  std::string value;
};

// A PC-to-phone line as the simulator checks it: its type and each top-level
// field as text. Strings read as their value, integral numbers in decimal,
// true, false and null as written, objects and arrays as compact JSON.
struct ReceivedLine {
  std::string type;
  std::vector<std::pair<std::string, std::string>> fields;

  // The first field of that name, or nullptr.
  const std::string* Field(std::string_view name) const;
};

// False when `line` is not a JSON object with a string "type".
bool ParseReceivedLine(std::string_view line, ReceivedLine& received);

// Whether `line` is a message of `type` whose fields read as `fields` say.
// On false, `why` says what differs.
bool MatchesExpectation(std::string_view line, std::string_view type,
                        const std::vector<ExpectedField>& fields, std::string& why);

}  // namespace lumora
