#pragma once

// The clipboard's text, as a program the user pastes into would read it.

#include <windows.h>

#include <string>

namespace lumora::testing {

inline std::wstring ClipboardText() {
  std::wstring text;
  if (!OpenClipboard(nullptr)) {
    return L"<clipboard busy>";
  }
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* units = static_cast<const wchar_t*>(GlobalLock(data))) {
      text = units;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

}  // namespace lumora::testing
