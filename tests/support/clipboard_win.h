#pragma once

// The clipboard's text, as a program the user pastes into would read it:
// opened with the reader's window, since the program that put it there
// hands its text only to the program in front.

#include <windows.h>

#include <string>

namespace lumora::testing {

inline std::wstring ClipboardText(HWND reader = nullptr) {
  std::wstring text;
  if (!OpenClipboard(reader)) {
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
