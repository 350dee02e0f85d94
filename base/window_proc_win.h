#pragma once

// The window procedure of every window class of the program, written once.

#include <windows.h>

namespace lumora {

// The base of a class whose object owns one window at a time, and the window
// procedure of that window's class. The owner registers the class with
// `WindowProc`, passes itself as the last argument of CreateWindowExW and
// implements (as a friend of WindowOwner<Owner> when private)
//
//   LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
//
// which receives every message from WM_NCCREATE to WM_NCDESTROY, both
// included, and passes what it leaves alone to DefaultHandling. The few
// messages a window gets before WM_NCCREATE (WM_GETMINMAXINFO) have no owner
// yet and go to DefWindowProcW, as does anything after WM_NCDESTROY.
template <typename Owner>
class WindowOwner {
 public:
  WindowOwner(const WindowOwner&) = delete;
  WindowOwner& operator=(const WindowOwner&) = delete;

  // The window from WM_NCCREATE until WM_NCDESTROY; null before and after.
  HWND window() const { return window_; }

 protected:
  WindowOwner() = default;
  // A window its owner left alive (a host built by a test without its loop)
  // must not lead its later messages to an object that is gone.
  ~WindowOwner() {
    if (window_ != nullptr) {
      SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    }
  }

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    Owner* owner = nullptr;
    if (message == WM_NCCREATE) {
      owner = static_cast<Owner*>(reinterpret_cast<const CREATESTRUCTW*>(lparam)->lpCreateParams);
      if (owner != nullptr) {
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
        static_cast<WindowOwner*>(owner)->window_ = window;
      }
    } else {
      owner = reinterpret_cast<Owner*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    }
    if (owner == nullptr) {
      return DefWindowProcW(window, message, wparam, lparam);
    }
    if (message != WM_NCDESTROY) {
      return owner->HandleMessage(message, wparam, lparam);
    }
    // The last message of the window. The owner forgets the handle after it,
    // so that nothing is ever sent to a dead or reused one (a window also
    // goes when the window that owns it is destroyed).
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    const LRESULT result = owner->HandleMessage(message, wparam, lparam);
    WindowOwner* base = owner;
    if (base->window_ == window) {
      base->window_ = nullptr;
    }
    return result;
  }

  LRESULT DefaultHandling(UINT message, WPARAM wparam, LPARAM lparam) const {
    return DefWindowProcW(window_, message, wparam, lparam);
  }

 private:
  HWND window_ = nullptr;
};

}  // namespace lumora
