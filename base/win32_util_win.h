#pragma once

#include <windows.h>

#include <shlobj.h>

#include <string>
#include <string_view>

namespace lumora {

// UTF-8 to UTF-16 with the system conversion (CP_UTF8, no flags, so ill-formed
// sequences become U+FFFD). Empty input or a failed conversion gives "".
std::wstring Utf8ToWide(std::string_view utf8);
// And back: unpaired surrogates become U+FFFD. Empty input or a failed
// conversion gives "".
std::string WideToUtf8(std::wstring_view wide);

// The portable UTF-16 texts and the Win32 ones are the same units: wchar_t
// is 16 bits on Windows, so these only change the type.
inline std::wstring AsWide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
inline std::u16string AsU16(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }
// The same units as a Win32 string without a copy, valid while `text` is.
static_assert(sizeof(wchar_t) == sizeof(char16_t));
inline const wchar_t* WideChars(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

// This program's full path; empty when it cannot be read whole.
std::wstring ModulePath();

// The path of a known folder. Never fails: the shell's answer, else the
// environment variable `env_name` when it holds 1 to 259 characters, else the
// current directory.
std::wstring KnownFolderPath(REFKNOWNFOLDERID folder, const wchar_t* env_name);

}  // namespace lumora
