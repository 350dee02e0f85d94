#pragma once

// The platform half of the log, one implementation per platform file
// (log_win.cpp, log_posix.cpp).

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string_view>

namespace lumora::detail {

// Opens the log file for appending (shared with other readers and writers),
// writes `text` with every "\n" stored as CR LF, and closes the file again.
// Does nothing when the file cannot be opened. Returns the bytes the file
// grew by as far as it knows (0 when nothing was written).
std::uintmax_t AppendToLogFile(const std::filesystem::path& file, std::string_view text);

// Converts seconds since the epoch to local broken-down time.
bool ToLocalTime(std::time_t seconds, std::tm& out);

}  // namespace lumora::detail
