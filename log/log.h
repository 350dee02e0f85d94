#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace lumora {

// Levels of a log line. Values outside the four names are allowed; those at or
// above the threshold are written with the letter '?'.
enum class LogLevel : std::int32_t {
  Debug = 0,
  Info = 1,
  Warn = 2,
  Error = 3,
};

// Lines below this level are never written. Progress is logged at Warn.
inline constexpr LogLevel kLogMinLevel = LogLevel::Warn;

// A log file larger than this is emptied before the next line is written: at
// the first line of a run, and at any line during it (a phone's traffic
// decides how many lines a run writes).
inline constexpr std::uintmax_t kLogTruncateBytes = 262144;

inline constexpr std::string_view kLogFileName = "ParlinoApp.log";

// Appends one line to ParlinoApp.log. Any thread, any time; never throws and
// reports nothing: a line that cannot be written is lost.
void Log(LogLevel level, std::string_view tag, std::string_view message) noexcept;

// What a string from outside (a phone's key or client name) may add to a log
// line: at most kLogTextMaxChars characters, "..." after a cut, and no
// character that could end the line or forge another. Control characters
// (C0, DEL, C1, the line and paragraph separators), the backslash and bytes
// that are not UTF-8 are written as escapes ("\n", "\x1b", "\u2028").
inline constexpr std::size_t kLogTextMaxChars = 120;
std::string LogSafeText(std::string_view text);

// The folder that holds the log file. Windows: "Parlino" under the local
// application-data folder. Linux: "Parlino" under $XDG_STATE_HOME, else under
// ~/.local/state, else under the current directory.
std::filesystem::path LogDirectory();

// Local time of day of this moment as HH:MM:SS.mmm.
std::string LogTimestamp();

namespace detail {

// The two halves of LogTimestamp and of a line, separated so that their
// formats can be checked against fixed moments.
std::string FormatLogTimestamp(std::chrono::system_clock::time_point when);
std::string FormatLogLine(LogLevel level, std::string_view tag, std::string_view timestamp,
                          std::string_view message);

// Makes the next Log call look at the file's size again, as the first line of
// a new run would.
void ResetLogSizeCheckForTest() noexcept;

}  // namespace detail
}  // namespace lumora
