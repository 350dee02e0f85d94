#pragma once

// A top-level test window holding one focused edit control: the stand-in for
// the program the user dictates into. Records the key messages that reach
// the edit, with the time each arrived.

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/pump_win.h"
namespace lumora::testing {

struct KeyMessage {
  UINT message;
  unsigned virtual_key;  // VK_PACKET for typed characters
  unsigned scan_code;
  std::chrono::steady_clock::time_point at;
  // What the edit held when a key other than a typed character arrived, that
  // is before the edit acted on it.
  std::wstring text_before;
};

// A top-level window holding one focused edit control; records the key
// messages that reach the edit.
class ProbeWindow {
 public:
  ProbeWindow() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = DefWindowProcW;
    window_class.hInstance = instance;
    window_class.lpszClassName = L"Parlino.TestProbe";
    RegisterClassW(&window_class);
    window_ = CreateWindowExW(0, L"Parlino.TestProbe", L"probe", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50,
                              500, 200, nullptr, nullptr, instance, nullptr);
    edit_ = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_AUTOVSCROLL, 5, 5, 480,
                            150, window_, nullptr, instance, nullptr);
    SetWindowLongPtrW(edit_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    edit_proc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(edit_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ProbeWindow::EditProc)));
    TakeFocus();
  }
  ~ProbeWindow() { DestroyWindow(window_); }
  ProbeWindow(const ProbeWindow&) = delete;
  ProbeWindow& operator=(const ProbeWindow&) = delete;

  bool ready() const { return window_ != nullptr && edit_ != nullptr && GetFocus() == edit_; }

  // Brings the probe to the front with the focus in its edit (again, after
  // another window took it); true when the edit has it.
  bool TakeFocus() {
    SetForegroundWindow(window_);
    SetFocus(edit_);
    Pump([] { return false; }, std::chrono::milliseconds(200));
    // The first window of a fresh Wine prefix sometimes misses the
    // activation; one more request, given time to settle, catches it.
    for (int attempt = 0; attempt < 3 && GetFocus() != edit_; ++attempt) {
      SetForegroundWindow(window_);
      SetFocus(edit_);
      Pump([] { return false; }, std::chrono::milliseconds(500));
    }
    return ready();
  }
  HWND window() const { return window_; }

  std::wstring Text() const {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(edit_)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(edit_, text.data(), static_cast<int>(text.size()))));
    return text;
  }
  void Clear() {
    SetWindowTextW(edit_, L"");
    first_char_at_ = {};
  }
  const std::vector<KeyMessage>& keys() const { return keys_; }
  // Key presses other than typed characters (which arrive as VK_PACKET).
  std::vector<KeyMessage> KeyPresses() const {
    std::vector<KeyMessage> presses;
    for (const KeyMessage& key : keys_) {
      if (key.virtual_key != VK_PACKET) {
        presses.push_back(key);
      }
    }
    return presses;
  }
  // How many UTF-16 units were typed (one VK_PACKET key-down each).
  std::size_t TypedUnits() const {
    std::size_t units = 0;
    for (const KeyMessage& key : keys_) {
      units += key.message == WM_KEYDOWN && key.virtual_key == VK_PACKET ? 1 : 0;
    }
    return units;
  }
  // When the first character message since the last Clear, and the last one,
  // reached the edit: taken in its window procedure, so that no wait of the
  // test's own loop adds to a measured time. Zero before the first.
  std::chrono::steady_clock::time_point first_char_at() const { return first_char_at_; }
  std::chrono::steady_clock::time_point last_char_at() const { return last_char_at_; }

  // Processes this thread's messages until `done` or the time-out.
  bool Pump(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    return PumpMessagesUntil(done, timeout);
  }

 private:
  static LRESULT CALLBACK EditProc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<ProbeWindow*>(GetWindowLongPtrW(edit, GWLP_USERDATA));
    if (message == WM_KEYDOWN || message == WM_KEYUP) {
      // Wine delivers scan-code input with virtual key 0: the scan code in
      // bits 16 to 23 is what identifies the key.
      self->keys_.push_back({message, static_cast<unsigned>(wparam),
                             static_cast<unsigned>((lparam >> 16) & 0xFF), std::chrono::steady_clock::now(),
                             wparam == VK_PACKET ? std::wstring() : self->Text()});
    } else if (message == WM_CHAR) {
      self->last_char_at_ = std::chrono::steady_clock::now();
      if (self->first_char_at_ == std::chrono::steady_clock::time_point{}) {
        self->first_char_at_ = self->last_char_at_;
      }
    }
    return CallWindowProcW(self->edit_proc_, edit, message, wparam, lparam);
  }

  HWND window_ = nullptr;
  HWND edit_ = nullptr;
  WNDPROC edit_proc_ = nullptr;
  std::vector<KeyMessage> keys_;
  std::chrono::steady_clock::time_point first_char_at_{};
  std::chrono::steady_clock::time_point last_char_at_{};
};

}  // namespace lumora::testing
