#include "base/win32_util_win.h"

#include <climits>
#include <vector>

#include "base/scoped_win.h"

namespace lumora {

std::wstring Utf8ToWide(std::string_view utf8) {
  if (utf8.empty() || utf8.size() > static_cast<size_t>(INT_MAX)) {
    return std::wstring();
  }
  const int size = static_cast<int>(utf8.size());
  const int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  if (needed <= 0) {
    return std::wstring();
  }
  std::wstring wide(static_cast<size_t>(needed), L'\0');
  const int written = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), needed);
  if (written <= 0) {
    return std::wstring();
  }
  wide.resize(static_cast<size_t>(written));
  return wide;
}

std::string WideToUtf8(std::wstring_view wide) {
  if (wide.empty() || wide.size() > static_cast<size_t>(INT_MAX)) {
    return std::string();
  }
  const int size = static_cast<int>(wide.size());
  const int needed = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) {
    return std::string();
  }
  std::string utf8(static_cast<size_t>(needed), '\0');
  const int written =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), needed, nullptr, nullptr);
  return written > 0 ? utf8.substr(0, static_cast<size_t>(written)) : std::string();
}

std::wstring ModulePath() {
  // Long enough for any path the shell starts a program from.
  std::vector<wchar_t> path(32768);
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  // A path that filled the buffer was cut short.
  if (length == 0 || length >= path.size()) {
    return std::wstring();
  }
  return std::wstring(path.data(), length);
}

std::wstring KnownFolderPath(REFKNOWNFOLDERID folder, const wchar_t* env_name) {
  {
    ScopedCoTaskMem<wchar_t> path;
    if (SUCCEEDED(SHGetKnownFolderPath(folder, 0, nullptr, path.Receive())) && path.get() != nullptr &&
        path.get()[0] != L'\0') {
      return std::wstring(path.get());
    }
  }
  if (env_name != nullptr) {
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(env_name, buffer, MAX_PATH);
    // A value too long for the buffer reports the size it needs instead.
    if (length >= 1 && length < MAX_PATH) {
      return std::wstring(buffer, length);
    }
  }
  const DWORD needed = GetCurrentDirectoryW(0, nullptr);
  if (needed == 0) {
    return std::wstring();
  }
  std::wstring current(needed, L'\0');
  const DWORD length = GetCurrentDirectoryW(needed, current.data());
  current.resize(length < needed ? length : 0);
  return current;
}

}  // namespace lumora
