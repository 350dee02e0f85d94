#include <windows.h>

#include <share.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>

#include "base/product.h"
#include "base/scoped_win.h"
#include "base/win32_util_win.h"
#include "log/log.h"
#include "log/log_platform.h"

namespace lumora {

std::filesystem::path LogDirectory() {
  return std::filesystem::path(KnownFolderPath(FOLDERID_LocalAppData, L"LOCALAPPDATA")) / kProductFolderName;
}

namespace detail {

std::uintmax_t AppendToLogFile(const std::filesystem::path& file, std::string_view text) {
  // Text mode turns each "\n" into CR LF; _SH_DENYNO lets other programs read
  // or tail the file while we write.
  const ScopedFile out(_wfsopen(file.c_str(), L"at", _SH_DENYNO));
  if (out.get() == nullptr) {
    return 0;
  }
  const std::size_t written = std::fwrite(text.data(), 1, text.size(), out.get());
  // Each line feed written took a carriage return with it.
  return written + static_cast<std::uintmax_t>(std::count(text.begin(), text.begin() + written, '\n'));
}

bool ToLocalTime(std::time_t seconds, std::tm& out) { return localtime_s(&out, &seconds) == 0; }

}  // namespace detail
}  // namespace lumora
