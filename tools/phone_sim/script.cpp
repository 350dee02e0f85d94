#include "tools/phone_sim/script.h"

#include <charconv>
#include <limits>

#include "tools/phone_sim/text.h"

namespace lumora {
namespace {

// A sleep longer than a day is a typo, not a plan.
constexpr unsigned kMaxSleepMs = 24u * 60u * 60u * 1000u;

std::string_view TrimLeft(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) {
    text.remove_prefix(1);
  }
  return text;
}

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && IsBlank(text[pos])) {
      ++pos;
    }
    const std::size_t start = pos;
    while (pos < text.size() && !IsBlank(text[pos])) {
      ++pos;
    }
    if (pos > start) {
      words.push_back(text.substr(start, pos - start));
    }
  }
  return words;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

ScriptLine Invalid(std::string& error, std::string text) {
  error = std::move(text);
  return ScriptLine::Invalid;
}

ScriptLine ParseCommand(std::string_view command, std::string_view rest,
                        const std::vector<std::string_view>& args, ScriptStep& step, std::string& error) {
  const auto no_args = [&]() -> bool {
    if (!args.empty()) {
      error = std::string(command) + " takes nothing after it";
      return false;
    }
    return true;
  };

  if (command == "text") {
    if (!IsValidUtf8(rest)) {
      return Invalid(error, "text is not valid UTF-8 (raw sends any bytes)");
    }
    step.bytes = BuildText(rest);
  } else if (command == "commit") {
    if (args.size() > 1 || (args.size() == 1 && args[0] != "noenter")) {
      return Invalid(error, "commit takes nothing or noenter");
    }
    step.bytes = BuildCommit(args.empty());
  } else if (command == "clear") {
    if (!no_args()) {
      return ScriptLine::Invalid;
    }
    step.bytes = BuildClear();
  } else if (command == "key") {
    if (args.size() != 1) {
      return Invalid(error, "key takes one name, e.g. key enter");
    }
    step.bytes = BuildKey(args[0]);
  } else if (command == "ping") {
    step.kind = StepKind::Ping;
    if (args.size() > 1) {
      return Invalid(error, "ping takes at most one ts");
    }
    if (args.size() == 1) {
      std::int64_t ts = 0;
      if (!ParseInt64(args[0], ts)) {
        return Invalid(error, "ping ts must be a 64-bit integer");
      }
      step.ts = ts;
    }
  } else if (command == "bye") {
    step.kind = StepKind::Bye;
    if (!no_args()) {
      return ScriptLine::Invalid;
    }
  } else if (command == "raw") {
    if (rest.empty()) {
      return Invalid(error, "raw needs bytes to send");
    }
    if (!DecodeEscapes(rest, step.bytes, error)) {
      return ScriptLine::Invalid;
    }
    step.raw = true;
  } else if (command == "sleep") {
    step.kind = StepKind::Sleep;
    if (args.size() != 1 || !ParseUnsigned(args[0], kMaxSleepMs, step.milliseconds)) {
      return Invalid(error, "sleep takes milliseconds, at most a day");
    }
  } else if (command == "expect") {
    step.kind = StepKind::Expect;
    if (args.empty()) {
      return Invalid(error, "expect needs a type, e.g. expect ack of=commit");
    }
    step.type = args[0];
    for (std::size_t i = 1; i < args.size(); ++i) {
      const std::size_t equals = args[i].find('=');
      if (equals == 0 || equals == std::string_view::npos) {
        return Invalid(error, "expect wants FIELD=VALUE, not \"" + std::string(args[i]) + "\"");
      }
      step.fields.push_back(
          {std::string(args[i].substr(0, equals)), std::string(args[i].substr(equals + 1))});
    }
  } else if (command == "wait-close") {
    step.kind = StepKind::WaitClose;
    if (!no_args()) {
      return ScriptLine::Invalid;
    }
  } else if (command == "close") {
    step.kind = StepKind::Close;
    if (!no_args()) {
      return ScriptLine::Invalid;
    }
  } else {
    return Invalid(error, "unknown command \"" + std::string(command) + "\"");
  }
  return ScriptLine::Step;
}

}  // namespace

bool EndsConnection(StepKind kind) {
  return kind == StepKind::Bye || kind == StepKind::WaitClose || kind == StepKind::Close;
}

bool ParseUnsigned(std::string_view text, unsigned max, unsigned& value) {
  unsigned parsed = 0;
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, parsed);
  if (text.empty() || text.front() == '-' || result.ec != std::errc() || result.ptr != end || parsed > max) {
    return false;
  }
  value = parsed;
  return true;
}

bool ParseInt64(std::string_view text, std::int64_t& value) {
  std::int64_t parsed = 0;
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, parsed);
  if (text.empty() || result.ec != std::errc() || result.ptr != end) {
    return false;
  }
  value = parsed;
  return true;
}

bool DecodeEscapes(std::string_view text, std::string& bytes, std::string& error) {
  bytes.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      bytes += text[i];
      continue;
    }
    if (i + 1 == text.size()) {
      error = "a lone \\ at the end (write \\\\ for a backslash)";
      return false;
    }
    const char kind = text[++i];
    if (kind == 'n') {
      bytes += '\n';
    } else if (kind == 'r') {
      bytes += '\r';
    } else if (kind == 't') {
      bytes += '\t';
    } else if (kind == '\\') {
      bytes += '\\';
    } else if (kind == 'x') {
      const int high = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
      const int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
      if (high < 0 || low < 0) {
        error = "\\x needs two hex digits";
        return false;
      }
      bytes += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      error = std::string("unknown escape \\") + kind;
      return false;
    }
  }
  return true;
}

ScriptLine ParseScriptLine(std::string_view line, ScriptStep& step, std::string& error) {
  step = ScriptStep{};
  const std::string_view trimmed = TrimLeft(line);
  if (trimmed.empty() || trimmed.front() == '#') {
    return ScriptLine::Nothing;
  }
  if (trimmed.front() == '{' || trimmed.front() == '[') {
    // Sent unchecked: a malformed line is how one tests the PC's answer to it.
    step.bytes = std::string(line) + "\n";
    return ScriptLine::Step;
  }
  std::size_t command_end = 0;
  while (command_end < trimmed.size() && !IsBlank(trimmed[command_end])) {
    ++command_end;
  }
  const std::string_view command = trimmed.substr(0, command_end);
  // `text` and `raw` take the rest of the line after one separating blank,
  // so further blanks belong to what is sent.
  const std::string_view rest =
      command_end < trimmed.size() ? trimmed.substr(command_end + 1) : std::string_view();
  return ParseCommand(command, rest, Words(trimmed.substr(command_end)), step, error);
}

bool ParseScript(std::string_view text, std::vector<ScriptStep>& steps, std::string& error) {
  steps.clear();
  int line_number = 0;
  int ended_at = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    ++line_number;
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    ScriptStep step;
    std::string why;
    const ScriptLine kind = ParseScriptLine(line, step, why);
    if (kind == ScriptLine::Nothing) {
      continue;
    }
    if (kind == ScriptLine::Invalid) {
      error = "line " + std::to_string(line_number) + ": " + why;
      steps.clear();
      return false;
    }
    if (ended_at != 0) {
      error = "line " + std::to_string(line_number) + ": the connection is gone after line " +
              std::to_string(ended_at);
      steps.clear();
      return false;
    }
    if (EndsConnection(step.kind)) {
      ended_at = line_number;
    }
    step.line_number = line_number;
    step.source = std::string(line);
    steps.push_back(std::move(step));
  }
  return true;
}

}  // namespace lumora
