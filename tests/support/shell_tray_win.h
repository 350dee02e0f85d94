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
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/scoped_win.h"
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

// A tooltip of the shell that holds a tool for an icon: the icon's tip, or
// under Wine 8 the balloon of a notice (a tooltip with TTS_BALLOON, made
// about 2 s after the request and shown for at least 10 s; Windows shows a
// toast instead, which no window of this kind holds).
struct ShellTooltip {
  HWND window;
  bool balloon;
  std::wstring text;
};

// The visible balloons and the tips the shell holds for the icon it draws in
// `icon_window`. The tooltips are in the shell's process, so the requests and
// the answers travel through memory reserved there.
inline std::vector<ShellTooltip> ShellTooltipsOf(HWND icon_window) {
  std::vector<ShellTooltip> found;
  DWORD shell_process_id = 0;
  GetWindowThreadProcessId(icon_window, &shell_process_id);
  const ScopedHandle shell(
      OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, shell_process_id));
  if (!shell.valid()) {
    return found;
  }
  constexpr std::size_t kUnits = 1024;
  struct Remote {
    TTTOOLINFOW tool;
    wchar_t text[kUnits];
  };
  auto* remote =
      static_cast<Remote*>(VirtualAllocEx(shell.get(), nullptr, sizeof(Remote), MEM_COMMIT, PAGE_READWRITE));
  if (remote == nullptr) {
    return found;
  }
  for (HWND tooltip = FindWindowExW(nullptr, nullptr, TOOLTIPS_CLASSW, nullptr); tooltip != nullptr;
       tooltip = FindWindowExW(nullptr, tooltip, TOOLTIPS_CLASSW, nullptr)) {
    DWORD process_id = 0;
    GetWindowThreadProcessId(tooltip, &process_id);
    const bool balloon = (GetWindowLongPtrW(tooltip, GWL_STYLE) & TTS_BALLOON) != 0;
    if (process_id != shell_process_id || (balloon && !IsWindowVisible(tooltip))) {
      continue;
    }
    const LRESULT tools = SendMessageW(tooltip, TTM_GETTOOLCOUNT, 0, 0);
    for (LRESULT i = 0; i < tools; ++i) {
      auto local = std::make_unique<Remote>();
      local->tool.cbSize = sizeof local->tool;
      local->tool.lpszText = remote->text;
      SIZE_T moved = 0;
      if (!WriteProcessMemory(shell.get(), remote, local.get(), sizeof(Remote), &moved) ||
          !SendMessageW(tooltip, TTM_ENUMTOOLSW, static_cast<WPARAM>(i),
                        reinterpret_cast<LPARAM>(&remote->tool))) {
        continue;
      }
      if (!ReadProcessMemory(shell.get(), remote, local.get(), sizeof(Remote), &moved)) {
        continue;
      }
      local->text[kUnits - 1] = L'\0';
      if (local->tool.hwnd == icon_window || local->tool.uId == reinterpret_cast<UINT_PTR>(icon_window)) {
        found.push_back({tooltip, balloon, local->text});
      }
    }
  }
  VirtualFreeEx(shell.get(), remote, 0, MEM_RELEASE);
  return found;
}

inline std::optional<ShellTooltip> ShellBalloonOf(HWND icon_window) {
  for (const ShellTooltip& tooltip : ShellTooltipsOf(icon_window)) {
    if (tooltip.balloon) {
      return tooltip;
    }
  }
  return std::nullopt;
}

// The tip the shell keeps for the icon it draws in `icon_window`, beside any
// balloon that may be up; none if it keeps none.
inline std::optional<std::wstring> ShellTipOf(HWND icon_window) {
  for (const ShellTooltip& tooltip : ShellTooltipsOf(icon_window)) {
    if (!tooltip.balloon) {
      return tooltip.text;
    }
  }
  return std::nullopt;
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
