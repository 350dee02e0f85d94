#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/product.h"
#include "log/log.h"
#include "log/log_platform.h"

namespace lumora {

std::filesystem::path LogDirectory() {
  // The XDG state folder is where Linux programs keep their logs.
  if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/') {
    return std::filesystem::path(state) / kProductFolderName;
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
    return std::filesystem::path(home) / ".local" / "state" / kProductFolderName;
  }
  std::error_code ec;
  return std::filesystem::current_path(ec) / kProductFolderName;
}

namespace detail {

std::uintmax_t AppendToLogFile(const std::filesystem::path& file, std::string_view text) {
  std::FILE* out = std::fopen(file.c_str(), "ab");
  if (out == nullptr) {
    return 0;
  }
  // Same bytes on disk as the Windows text mode writes: CR LF line ends.
  std::string bytes;
  bytes.reserve(text.size() + 4);
  for (char c : text) {
    if (c == '\n') {
      bytes += '\r';
    }
    bytes += c;
  }
  const std::size_t written = std::fwrite(bytes.data(), 1, bytes.size(), out);
  std::fclose(out);
  return written;
}

bool ToLocalTime(std::time_t seconds, std::tm& out) { return localtime_r(&seconds, &out) != nullptr; }

}  // namespace detail
}  // namespace lumora
