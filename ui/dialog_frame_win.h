#pragma once

// What the settings, onboarding and contact dialogs share: each is a plain
// top-level window of its own class with standard controls, run by a modal
// loop of its own (no dialog templates), placed and sized at the owner's DPI.

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "base/scoped_win.h"
#include "base/window_proc_win.h"
#include "config/app_config.h"
#include "ui/dialog_layout.h"

namespace lumora {

// The product name, the caption of the dialogs' message box.
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

// PlaceDialog for a window of this size, on the owner's rectangle and the
// primary work area as the system reports them now.
DialogPlacement PlaceDialogFor(HWND owner, std::int32_t width, std::int32_t height);

// The DPI a dialog scales by: WindowDpi, unless a test has put another in.
std::uint32_t DialogDpi(HWND window);

// Creates `design` as a visible child at `dpi` and gives it `font`.
HWND CreateDialogControl(HWND dialog, HINSTANCE instance, const ControlDesign& design, std::uint32_t dpi,
                         HFONT font);

// Puts the focus on the dialog's first tab stop, its text selected when it is
// an edit: a keyboard user can act at once.
void FocusFirstControl(HWND dialog);

// At WM_ACTIVATE of a dialog: remembers the focused control when the dialog
// is left and gives it the focus back when the dialog is activated again
// (a plain window would otherwise take the focus itself). True when it set
// the focus, and the message is then handled.
bool KeepFocusAcrossActivation(HWND dialog, WPARAM wparam, HWND& saved);

// At WM_DPICHANGED: every control made by CreateDialogControl moved to its
// design at `dpi` and given `font`, and the dialog given the `suggested`
// rectangle (none: its size is left).
void ApplyDpiChange(HWND dialog, std::uint32_t dpi, HFONT font, const RECT* suggested);

// ParsePortText on what the port edit holds (read into 32 UTF-16 units).
bool ParsePortText(HWND edit, std::int32_t& out);

// The port edit's number when it is a port the dialogs accept; otherwise the
// warning box, owned by the dialog, and nothing.
bool ReadListenPortOrWarn(HWND dialog, HWND edit, std::int32_t& port);

bool IsChecked(HWND check_box);

// At WM_DESTROY: the owner is enabled again (also when it was never disabled).
void ReleaseOwner(HWND owner);

// The settings and the onboarding dialog: the window edits a copy of the
// settings. The confirm button, or Enter, takes the controls' values when the
// port is one the dialogs accept and closes the window; the cancel button,
// Esc or the close box close it and leave the record as it was.
class ConfigDialog : public WindowOwner<ConfigDialog> {
 protected:
  struct ControlIds {
    int port_edit;
    int confirm;  // also the default button, pressed by Enter
    int cancel;
  };

  ConfigDialog(HINSTANCE instance, HWND owner, const AppConfig& current, ControlIds ids);
  virtual ~ConfigDialog() = default;

  // Registers the dialog's class on the first call for `registered`, shows
  // the dialog and returns when it is closed. True, with `result` set to the
  // whole edited record, when the user confirmed and `result` is not null;
  // otherwise false with `result` untouched.
  bool RunModal(const DialogFrame& frame, std::atomic<bool>& registered, AppConfig* result);

  // At WM_CREATE: the controls, filled from working().
  virtual void CreateControls(std::uint32_t dpi, HFONT font) = 0;
  // At a confirmation with a valid `port`: what the controls hold, into
  // `working`.
  virtual void TakeControls(std::int32_t port, AppConfig& working) = 0;
  // A command of a control of the dialog's own, before the frame looks at
  // it; true when it was taken.
  virtual bool HandleCommand(int /*id*/, int /*code*/) { return false; }

  HINSTANCE instance() const { return instance_; }
  const AppConfig& working() const { return working_; }

 private:
  friend class WindowOwner<ConfigDialog>;
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void Confirm();
  void Close();

  HINSTANCE instance_;
  HWND owner_;
  ControlIds ids_;
  AppConfig working_;
  bool accepted_ = false;
  DialogFont font_;
  HWND focus_ = nullptr;  // the control that had the focus when the dialog was left
};

namespace detail {
// Replaces the DPI the dialogs scale by (0 puts WindowDpi back), so that a
// display scale can be played where the bench's cannot be changed.
void SetDialogDpiForTest(std::uint32_t dpi);
}  // namespace detail

}  // namespace lumora
