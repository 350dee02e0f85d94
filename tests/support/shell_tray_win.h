#pragma once

// The notification area as the shell holds it. Tray tests look there rather
// than at the record the program filled in: the user sees what the shell took.
//
// Where the icons live is the shell's business. Under Wine 8 on an X server
// without a system tray of its own (the bench's Xvfb), explorer.exe draws each
// icon in a window of class "__winex11_tray_icon" inside its "Wine System
// Tray" window, and keeps each icon's tip as a tool of a tooltip control in
// its own process; Shell_NotifyIconGetRect answers E_NOTIMPL there. Windows
// keeps them in a toolbar of the taskbar instead. Only the finding of those
// windows below is the bench's; what is observed through them (the icon is
// held, its tip, the callback a pointer over it brings, its picture) is what
// any shell does.

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/pump_win.h"
namespace lumora::testing {

// Whether the shell holds the icon (owner, id): a modification that changes
// nothing succeeds only for an icon the shell has.
inline bool ShellHoldsIcon(HWND owner, UINT id) {
  NOTIFYICONDATAW probe{};
  probe.cbSize = sizeof probe;
  probe.hWnd = owner;
  probe.uID = id;
  probe.uFlags = 0;
  return Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE;
}

// The windows in which the shell draws its icons, in its order.
inline std::vector<HWND> ShellIconWindows() {
  std::vector<HWND> icons;
  for (HWND tray = FindWindowExW(nullptr, nullptr, L"__winex11_standalone_tray", nullptr); tray != nullptr;
       tray = FindWindowExW(nullptr, tray, L"__winex11_standalone_tray", nullptr)) {
    for (HWND icon = FindWindowExW(tray, nullptr, L"__winex11_tray_icon", nullptr); icon != nullptr;
         icon = FindWindowExW(tray, icon, L"__winex11_tray_icon", nullptr)) {
      icons.push_back(icon);
    }
  }
  return icons;
}

// Processes this thread's messages (the shell's notifications among them)
// until `done` or the time-out.
template <typename Done>
bool PumpShellUntil(Done done, std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
  return PumpMessagesUntil(done, timeout);
}

// While it lives, records the tray callbacks that reach a window of this
// thread, and hands every message on to the window's own procedure.
class TrayCallbackRecorder {
 public:
  struct Callback {
    WPARAM wparam;
    LPARAM lparam;
  };

  TrayCallbackRecorder(HWND owner, UINT callback_message) : owner_(owner), message_(callback_message) {
    current_ = this;
    previous_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(owner_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TrayCallbackRecorder::Proc)));
  }
  ~TrayCallbackRecorder() {
    SetWindowLongPtrW(owner_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
    current_ = nullptr;
  }
  TrayCallbackRecorder(const TrayCallbackRecorder&) = delete;
  TrayCallbackRecorder& operator=(const TrayCallbackRecorder&) = delete;

  const std::vector<Callback>& seen() const { return seen_; }
  void Clear() { seen_.clear(); }

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    TrayCallbackRecorder* self = current_;
    if (message == self->message_) {
      self->seen_.push_back({wparam, lparam});
    }
    return CallWindowProcW(self->previous_, window, message, wparam, lparam);
  }

  static inline thread_local TrayCallbackRecorder* current_ = nullptr;
  HWND owner_;
  UINT message_;
  WNDPROC previous_ = nullptr;
  std::vector<Callback> seen_;
};

// The shell's window for the icon `id` of the recorder's window: the pointer
// is moved over each icon the shell shows (a move, which a program only
// notices) until the callback for that icon arrives. Null if none answers.
inline HWND FindShellIcon(TrayCallbackRecorder& recorder, UINT id) {
  for (HWND icon : ShellIconWindows()) {
    recorder.Clear();
    PostMessageW(icon, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
    const auto answered = [&] {
      for (const TrayCallbackRecorder::Callback& callback : recorder.seen()) {
        if (LOWORD(callback.lparam) == WM_MOUSEMOVE && HIWORD(callback.lparam) == id) {
          return true;
        }
      }
      return false;
    };
    if (PumpShellUntil(answered, std::chrono::milliseconds(1000))) {
      return icon;
    }
  }
  return nullptr;
}

// The tip the shell keeps for the icon it draws in `icon_window`; none if it
// keeps none. The tooltip control is in the shell's process, so the request
// and the answer travel through memory reserved there.
inline std::optional<std::wstring> ShellTipOf(HWND icon_window) {
  DWORD shell_process_id = 0;
  GetWindowThreadProcessId(icon_window, &shell_process_id);
  const HANDLE shell =
      OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, shell_process_id);
  if (shell == nullptr) {
    return std::nullopt;
  }
  constexpr std::size_t kTextUnits = 1024;
  char* remote = static_cast<char*>(VirtualAllocEx(
      shell, nullptr, sizeof(TTTOOLINFOW) + kTextUnits * sizeof(wchar_t), MEM_COMMIT, PAGE_READWRITE));
  std::optional<std::wstring> tip;
  for (HWND tooltip = FindWindowExW(nullptr, nullptr, TOOLTIPS_CLASSW, nullptr);
       remote != nullptr && tooltip != nullptr && !tip;
       tooltip = FindWindowExW(nullptr, tooltip, TOOLTIPS_CLASSW, nullptr)) {
    DWORD process_id = 0;
    GetWindowThreadProcessId(tooltip, &process_id);
    if (process_id != shell_process_id) {
      continue;
    }
    const LRESULT tools = SendMessageW(tooltip, TTM_GETTOOLCOUNT, 0, 0);
    for (LRESULT i = 0; i < tools && !tip; ++i) {
      TTTOOLINFOW info{};
      info.cbSize = sizeof info;
      info.lpszText = reinterpret_cast<LPWSTR>(remote + sizeof(TTTOOLINFOW));
      std::vector<wchar_t> text(kTextUnits, L'\0');
      SIZE_T moved = 0;
      if (!WriteProcessMemory(shell, remote, &info, sizeof info, &moved) ||
          !WriteProcessMemory(shell, remote + sizeof(TTTOOLINFOW), text.data(), text.size() * sizeof(wchar_t),
                              &moved) ||
          !SendMessageW(tooltip, TTM_ENUMTOOLSW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(remote)) ||
          !ReadProcessMemory(shell, remote, &info, sizeof info, &moved) ||
          !ReadProcessMemory(shell, remote + sizeof(TTTOOLINFOW), text.data(),
                             (text.size() - 1) * sizeof(wchar_t), &moved)) {
        continue;
      }
      if (info.hwnd == icon_window || info.uId == reinterpret_cast<UINT_PTR>(icon_window)) {
        tip = std::wstring(text.data());
      }
    }
  }
  if (remote != nullptr) {
    VirtualFreeEx(shell, remote, 0, MEM_RELEASE);
  }
  CloseHandle(shell);
  return tip;
}

// Whether the icon's square on the screen shows a picture: more than one
// colour, where an icon without an image leaves the tray's plain background.
inline bool ShellShowsAPicture(HWND icon_window) {
  RECT rect{};
  if (!GetWindowRect(icon_window, &rect) || rect.right <= rect.left || rect.bottom <= rect.top) {
    return false;
  }
  const HDC screen = GetDC(nullptr);
  const COLORREF first = GetPixel(screen, rect.left, rect.top);
  bool varied = false;
  for (LONG y = rect.top; y < rect.bottom && !varied; ++y) {
    for (LONG x = rect.left; x < rect.right && !varied; ++x) {
      varied = GetPixel(screen, x, y) != first;
    }
  }
  ReleaseDC(nullptr, screen);
  return varied;
}

}  // namespace lumora::testing
