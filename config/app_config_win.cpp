#include <windows.h>

#include <shlobj.h>

#include <atomic>
#include <climits>

#include "base/product.h"
#include "base/scoped_win.h"
#include "base/win32_util_win.h"
#include "config/app_config.h"
#include "config/app_config_platform.h"

namespace lumora {

std::filesystem::path ConfigDirectory() {
  return std::filesystem::path(KnownFolderPath(FOLDERID_RoamingAppData, L"APPDATA")) / kProductFolderName;
}

namespace detail {
namespace {

std::atomic<unsigned> g_replacement_serial{0};

HANDLE ToHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

bool ReadConfigFile(const std::filesystem::path& file, std::string& bytes, int& error) {
  // Editors may hold the file open while we read it.
  const ScopedHandle handle(CreateFileW(file.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle.valid()) {
    error = static_cast<int>(GetLastError());
    return false;
  }
  bytes.clear();
  char buffer[4096];
  bool ok = true;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(handle.get(), buffer, sizeof buffer, &got, nullptr)) {
      error = static_cast<int>(GetLastError());
      ok = false;
      break;
    }
    if (got == 0) {
      break;
    }
    bytes.append(buffer, got);
  }
  return ok;
}

ReplacementFile::ReplacementFile(const std::filesystem::path& target) : target_(target) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::filesystem::path candidate = target;
    candidate += L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                 std::to_wstring(g_replacement_serial++) + L".tmp";
    const HANDLE handle =
        CreateFileW(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      path_ = std::move(candidate);
      handle_ = reinterpret_cast<std::intptr_t>(handle);
      return;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) {
      return;
    }
  }
}

ReplacementFile::~ReplacementFile() {
  Close();
  if (!replaced_ && !path_.empty()) {
    DeleteFileW(path_.c_str());
  }
}

bool ReplacementFile::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > INT_MAX ? INT_MAX : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!WriteFile(ToHandle(handle_), bytes.data(), chunk, &written, nullptr) || written == 0) {
      return false;
    }
    bytes.remove_prefix(written);
  }
  return true;
}

bool ReplacementFile::Flush() { return FlushFileBuffers(ToHandle(handle_)) != 0; }

bool ReplacementFile::Close() {
  if (handle_ == kNoHandle) {
    return true;
  }
  const bool ok = CloseHandle(ToHandle(handle_)) != 0;
  handle_ = kNoHandle;
  return ok;
}

bool ReplacementFile::Replace() {
  // Fails, leaving the old file, while another program holds that open
  // without FILE_SHARE_DELETE.
  if (!Close() ||
      !MoveFileExW(path_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return false;
  }
  replaced_ = true;
  return true;
}

}  // namespace detail
}  // namespace lumora
