#pragma once

#include <windows.h>

#include <string>

namespace lumora {

inline constexpr wchar_t kRunKeyPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr wchar_t kRunValueName[] = L"Lumora.Parlino";

// Brings the per-user Run value in line with the setting: the quoted program
// path when `enable`, no value otherwise; the Run key is made when it is
// missing. True when the registry now agrees; a failed step is logged at
// Warn.
bool ApplyAutoStart(bool enable);

// The program's full path in double quotes, or "" when it cannot be had.
std::wstring QuotedModulePath();

namespace detail {
// ApplyAutoStart against any key and value name, so that tests can make the
// steps fail.
bool ApplyAutoStartAt(HKEY root, const wchar_t* subkey, const wchar_t* value_name, bool enable);
// Points ApplyAutoStart at another key (null root puts HKCU's Run key back),
// so that a host can be played against a registry that refuses.
void SetRunKeyForTest(HKEY root, const wchar_t* subkey);
}  // namespace detail

}  // namespace lumora
