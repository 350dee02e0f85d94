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

// This program's full path; empty when it cannot be read whole.
std::wstring ModulePath();

// The path of a known folder. Never fails: the shell's answer, else the
// environment variable `env_name` when it holds 1 to 259 characters, else the
// current directory.
std::wstring KnownFolderPath(REFKNOWNFOLDERID folder, const wchar_t* env_name);

}  // namespace lumora
