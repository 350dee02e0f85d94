#include <windows.h>

#include <share.h>
#include <shlobj.h>

#include <cstdio>

#include "log/log.h"
#include "log/log_platform.h"
#include "base/product.h"
#include "base/scoped_win.h"
#include "base/win32_util_win.h"

namespace lumora {

std::filesystem::path LogDirectory() {
  return std::filesystem::path(KnownFolderPath(FOLDERID_LocalAppData, L"LOCALAPPDATA")) / kProductFolderName;
}

namespace detail {

void AppendToLogFile(const std::filesystem::path& file, std::string_view text) {
  // Text mode turns each "\n" into CR LF; _SH_DENYNO lets other programs read
  // or tail the file while we write.
  const ScopedFile out(_wfsopen(file.c_str(), L"at", _SH_DENYNO));
  if (out.get() == nullptr) {
    return;
  }
  std::fwrite(text.data(), 1, text.size(), out.get());
}

bool ToLocalTime(std::time_t seconds, std::tm& out) { return localtime_s(&out, &seconds) == 0; }

}  // namespace detail
}  // namespace lumora
