#pragma once

// The program's Run value in the profile's registry, as the shell would read
// it at the next log-on.

#include <windows.h>

#include <optional>
#include <string>

#include "app/auto_start_win.h"

namespace lumora::testing {

inline std::optional<std::wstring> RunValue() {
  wchar_t data[1024] = {};
  DWORD size = sizeof data;
  if (RegGetValueW(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName, RRF_RT_REG_SZ, nullptr, data, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return data;
}

}  // namespace lumora::testing
