#pragma once

// What the settings, onboarding and contact dialogs share: each is a plain
// top-level window of its own class with standard controls, run by a modal
// loop of its own (no dialog templates), placed and sized at the owner's DPI.

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "app/scoped_win.h"
#include "config/app_config.h"

namespace lumora {

// The product name, the caption of the dialogs' message box.
inline constexpr wchar_t kDialogCaption[] = L"Lumora语音输入";
inline constexpr wchar_t kPortWarningText[] = L"请输入 1024 到 65535 之间的 TCP 端口。";

inline constexpr DWORD kDialogExStyle = WS_EX_DLGMODALFRAME | WS_EX_APPWINDOW;  // 0x00040001
inline constexpr DWORD kDialogStyle = WS_CAPTION | WS_SYSMENU;                  // 0x00C80000

// The dialog font: the system's message font at the dialog's DPI, or the
// stock GUI font when the system gives none. Created at WM_CREATE and deleted
// at WM_DESTROY.
class DialogFont {
 public:
  void Create(std::uint32_t dpi);
  void Reset() {
    owned_.Reset();
    font_ = nullptr;
  }
  HFONT get() const { return font_; }

 private:
  ScopedGdiObject<HFONT> owned_;
  HFONT font_ = nullptr;
};

// The state of the settings and the onboarding dialog: the record the dialog
// edits, and whether the user confirmed it.
struct DialogState {
  AppConfig initial;  // the record handed in
  AppConfig working;  // controls are filled from it; a valid confirmation writes into it
  bool accepted = false;
  HWND owner = nullptr;
  DialogFont font;
};

// One child control in design pixels (at 96 DPI).
struct ControlDesign {
  const wchar_t* class_name;
  int id;  // 0: a label nobody addresses
  const wchar_t* text;
  std::int32_t x, y, width, height;
  DWORD style;  // besides WS_CHILD | WS_VISIBLE
};

// The window of one dialog kind.
struct DialogFrame {
  const wchar_t* class_name;
  const wchar_t* title;
  std::int32_t design_width;  // outer size at 96 DPI
  std::int32_t design_height;
};

// Registers the dialog's class on the first call for `registered`; a failure
// is not retried (CreateWindowExW then fails and Run says so).
void RegisterDialogClass(std::atomic<bool>& registered, HINSTANCE instance, const wchar_t* class_name,
                         WNDPROC window_proc);

// Sizes and places the dialog at the owner's DPI, disables an owner it is
// centred on, creates the window with `create_param`, shows it and runs its
// modal loop until the window is gone. False when the window could not be
// created. A WM_QUIT ends the loop, destroys the dialog and is posted again,
// so that the caller's own loop ends too.
bool RunDialogFrame(const DialogFrame& frame, HWND owner, HINSTANCE instance, void* create_param);

// The DPI a dialog scales by: WindowDpi, unless a test has put another in.
std::uint32_t DialogDpi(HWND window);

// Creates `design` as a visible child at `dpi` and gives it `font`.
HWND CreateDialogControl(HWND dialog, HINSTANCE instance, const ControlDesign& design, std::uint32_t dpi,
                         HFONT font);

// ParsePortText on what the port edit holds (read into 32 UTF-16 units).
bool ParsePortText(HWND edit, std::int32_t& out);

// The port edit's number when it is a port the dialogs accept; otherwise the
// warning box, owned by the dialog, and nothing.
bool ReadListenPortOrWarn(HWND dialog, HWND edit, std::int32_t& port);

bool IsChecked(HWND check_box);

// At WM_DESTROY: the owner is enabled again (also when it was never disabled).
void ReleaseOwner(HWND owner);

// The one window-procedure pattern: the object behind the window arrives as
// the creation parameter, is kept in GWLP_USERDATA from WM_NCCREATE on and
// handles every later message; the link is cut at WM_NCDESTROY.
template <typename Dialog>
LRESULT CALLBACK DialogWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  Dialog* self = nullptr;
  if (message == WM_NCCREATE) {
    self = static_cast<Dialog*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  }
  if (self == nullptr) {
    return DefWindowProcW(window, message, wparam, lparam);
  }
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  }
  return self->HandleMessage(window, message, wparam, lparam);
}

namespace detail {
// Replaces the DPI the dialogs scale by (0 puts WindowDpi back), so that a
// display scale can be played where the bench's cannot be changed.
void SetDialogDpiForTest(std::uint32_t dpi);
}  // namespace detail

}  // namespace lumora
