#include "log/log.h"

#include <cstdio>
#include <ctime>
#include <mutex>
#include <system_error>

#include "base/utf8.h"
#include "log/log_platform.h"

namespace lumora {
namespace {

// Held only while one line is written; Log calls nothing that could take
// another lock of the program, so it may be called with any lock held.
std::mutex& LogMutex() {
  static std::mutex mutex;
  return mutex;
}

// What this process knows of the log file's size, under LogMutex: read from
// the file at the first line of a run, then counted up by what each line
// added, so that no line costs a look at the file. The file is looked at again
// only when the count passes the limit: another program (an editor, a second
// copy's line) may have changed it meanwhile.
struct KnownLogSize {
  bool known = false;
  std::uintmax_t bytes = 0;
};
KnownLogSize g_log_size;

char LevelLetter(LogLevel level) {
  switch (level) {
    case LogLevel::Debug:
      return 'D';
    case LogLevel::Info:
      return 'I';
    case LogLevel::Warn:
      return 'W';
    case LogLevel::Error:
      return 'E';
  }
  return '?';
}

// The file's size, after emptying it when it is larger than the limit.
std::uintmax_t EmptyIfTooLarge(const std::filesystem::path& file) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (ec) {
    return 0;  // no file yet: the line makes one
  }
  if (size > kLogTruncateBytes) {
    std::filesystem::resize_file(file, 0, ec);
    return ec ? size : 0;
  }
  return size;
}

void AppendHex(std::string& out, const char* prefix, unsigned value, int digits) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%s%0*X", prefix, digits, value);
  out += buffer;
}

}  // namespace

std::string LogSafeText(std::string_view text) {
  std::string out;
  std::size_t chars = 0;
  for (std::size_t at = 0; at < text.size(); ++chars) {
    if (chars == kLogTextMaxChars) {
      out += "...";
      break;
    }
    const std::size_t length = Utf8SequenceLength(text, at);
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const char c = text[at];
    if (length == 0) {
      AppendHex(out, "\\x", byte(0), 2);
      ++at;
      continue;
    }
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (length == 1 && (byte(0) < 0x20 || byte(0) == 0x7F)) {
      AppendHex(out, "\\x", byte(0), 2);
    } else if (length == 2 && byte(0) == 0xC2 && byte(1) <= 0x9F) {
      AppendHex(out, "\\u", byte(1), 4);  // C1 controls, U+0080 to U+009F
    } else if (length == 3 && byte(0) == 0xE2 && byte(1) == 0x80 && (byte(2) == 0xA8 || byte(2) == 0xA9)) {
      AppendHex(out, "\\u", 0x2000u + (byte(2) - 0x80u), 4);  // line and paragraph separators
    } else {
      out.append(text, at, length);
    }
    at += length;
  }
  return out;
}

namespace detail {

std::string FormatLogTimestamp(std::chrono::system_clock::time_point when) {
  // Ticks of 100 ns since the epoch, as the Windows clock counts them.
  using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>;
  const std::int64_t ticks = std::chrono::duration_cast<Ticks>(when.time_since_epoch()).count();
  std::int64_t seconds = ticks / 10000000;
  std::int64_t millis = (ticks / 10000) % 1000;
  if (millis < 0) {  // before the epoch: keep the fraction positive
    millis += 1000;
    seconds -= 1;
  }
  std::tm local{};
  char clock[16] = "00:00:00";
  if (ToLocalTime(static_cast<std::time_t>(seconds), local)) {
    if (std::strftime(clock, sizeof clock, "%H:%M:%S", &local) == 0) {
      clock[0] = '\0';
    }
  }
  char text[32];
  std::snprintf(text, sizeof text, "%s.%03d", clock, static_cast<int>(millis));
  return text;
}

std::string FormatLogLine(LogLevel level, std::string_view tag, std::string_view timestamp,
                          std::string_view message) {
  std::string line;
  line.reserve(tag.size() + timestamp.size() + message.size() + 8);
  line += '[';
  line += LevelLetter(level);
  line += ' ';
  line += tag;
  line += ' ';
  line += timestamp;
  line += "] ";
  line += message;
  line += '\n';
  return line;
}

void ResetLogSizeCheckForTest() noexcept {
  std::lock_guard<std::mutex> lock(LogMutex());
  g_log_size.known = false;
}

}  // namespace detail

std::string LogTimestamp() { return detail::FormatLogTimestamp(std::chrono::system_clock::now()); }

void Log(LogLevel level, std::string_view tag, std::string_view message) noexcept {
  if (static_cast<std::int32_t>(level) < static_cast<std::int32_t>(kLogMinLevel)) {
    return;
  }
  try {
    const std::filesystem::path folder = LogDirectory();
    const std::filesystem::path file = folder / kLogFileName;
    // Created before the lock: creating an existing folder succeeds, so
    // threads racing here do no harm.
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
      return;
    }
    std::lock_guard<std::mutex> lock(LogMutex());
    if (!g_log_size.known || g_log_size.bytes > kLogTruncateBytes) {
      g_log_size.bytes = EmptyIfTooLarge(file);
      g_log_size.known = true;
    }
    g_log_size.bytes +=
        detail::AppendToLogFile(file, detail::FormatLogLine(level, tag, LogTimestamp(), message));
  } catch (...) {
    // A lost log line must never disturb the caller.
  }
}

}  // namespace lumora
