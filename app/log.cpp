#include "app/log.h"

#include <atomic>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <system_error>

#include "app/log_platform.h"

namespace lumora {
namespace {

// Held only while one line is written; Log calls nothing that could take
// another lock of the program, so it may be called with any lock held.
std::mutex& LogMutex() {
  static std::mutex mutex;
  return mutex;
}

std::atomic<bool> g_size_checked{false};

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

void EmptyIfTooLarge(const std::filesystem::path& file) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (!ec && size > kLogTruncateBytes) {
    std::filesystem::resize_file(file, 0, ec);
  }
}

}  // namespace

namespace {

// The length of the UTF-8 sequence starting at `at`, or 0 when the bytes
// there are not one (a stray continuation byte, a cut or overlong sequence,
// a surrogate, beyond U+10FFFF).
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at, char32_t& code_point) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = 0;
  char32_t min = 0;
  if (lead < 0x80) {
    code_point = lead;
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    min = 0x80;
    code_point = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    min = 0x800;
    code_point = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    min = 0x10000;
    code_point = lead & 0x07;
  } else {
    return 0;
  }
  if (at + length > text.size()) {
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) {
      return 0;
    }
    code_point = (code_point << 6) | (byte(at + i) & 0x3F);
  }
  if (code_point < min || code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF)) {
    return 0;
  }
  return length;
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
    char32_t code_point = 0;
    const std::size_t length = Utf8SequenceLength(text, at, code_point);
    if (length == 0) {
      AppendHex(out, "\\x", static_cast<unsigned char>(text[at]), 2);
      ++at;
      continue;
    }
    if (code_point == '\n') {
      out += "\\n";
    } else if (code_point == '\r') {
      out += "\\r";
    } else if (code_point == '\t') {
      out += "\\t";
    } else if (code_point == '\\') {
      out += "\\\\";
    } else if (code_point < 0x20 || code_point == 0x7F) {
      AppendHex(out, "\\x", static_cast<unsigned>(code_point), 2);
    } else if ((code_point >= 0x80 && code_point <= 0x9F) || code_point == 0x2028 || code_point == 0x2029) {
      AppendHex(out, "\\u", static_cast<unsigned>(code_point), 4);
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

void ResetLogSizeCheckForTest() noexcept { g_size_checked.store(false); }

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
    if (!g_size_checked.exchange(true)) {
      EmptyIfTooLarge(file);
    }
    detail::AppendToLogFile(file, detail::FormatLogLine(level, tag, LogTimestamp(), message));
  } catch (...) {
    // A lost log line must never disturb the caller.
  }
}

}  // namespace lumora
