#include "app/auto_start_win.h"

#include <atomic>
#include <string>

#include "base/scoped_win.h"
#include "base/win32_util_win.h"
#include "log/log.h"

namespace lumora {
namespace {

std::atomic<HKEY> g_test_root{nullptr};
std::atomic<const wchar_t*> g_test_subkey{nullptr};

void LogStatus(const char* what, LONG status) {
  Log(LogLevel::Warn, "APP", std::string("auto_start: ") + what + " failed hr=" + std::to_string(status));
}

}  // namespace

std::wstring QuotedModulePath() {
  const std::wstring path = ModulePath();
  // Longer than MAX_PATH: not a path the Run key starts.
  if (path.empty() || path.size() >= MAX_PATH) {
    return std::wstring();
  }
  return L"\"" + path + L"\"";
}

bool ApplyAutoStart(bool enable) {
  if (const HKEY root = g_test_root.load(); root != nullptr) {
    return detail::ApplyAutoStartAt(root, g_test_subkey.load(), kRunValueName, enable);
  }
  return detail::ApplyAutoStartAt(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName, enable);
}

namespace detail {

bool ApplyAutoStartAt(HKEY root, const wchar_t* subkey, const wchar_t* value_name, bool enable) {
  ScopedRegKey key;
  // Created when missing: a fresh or cleaned profile may have no Run key,
  // and Windows reads it all the same once it exists.
  const LONG opened = RegCreateKeyExW(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, key.Receive(), nullptr);
  if (opened != ERROR_SUCCESS) {
    LogStatus("RegCreateKeyEx", opened);
    return false;
  }
  if (enable) {
    // Written afresh at every start, so the value follows a moved program.
    const std::wstring data = QuotedModulePath();
    if (data.empty()) {
      Log(LogLevel::Warn, "APP", "auto_start: GetModuleFileName failed");
      return false;
    }
    const LONG set =
        RegSetValueExW(key.get(), value_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    if (set != ERROR_SUCCESS) {
      LogStatus("RegSetValueEx", set);
      return false;
    }
    return true;
  }
  const LONG deleted = RegDeleteValueW(key.get(), value_name);
  if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) {
    LogStatus("RegDeleteValue", deleted);
    return false;
  }
  return true;
}

void SetRunKeyForTest(HKEY root, const wchar_t* subkey) {
  g_test_subkey = subkey;
  g_test_root = root;
}

}  // namespace detail
}  // namespace lumora
