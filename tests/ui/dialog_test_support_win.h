#pragma once

// What the dialog tests share: reading a dialog's windows back as the user
// sees them.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/ui/dialog_script_win.h"

namespace lumora::testing {

// One child window as found on the screen, in client coordinates of its
// dialog.
struct ChildWindow {
  HWND window;
  std::wstring class_name;
  int id;
  std::wstring text;
  RECT rect;
  DWORD style;
  LONG font_height;  // of the font it was given; 0 without one
  // As CreateWindowExW was asked (seen by a CreationLog), before the control
  // adjusted itself: an edit takes WS_BORDER off and draws the frame itself,
  // a combo box is as tall as its selection field, a list box shows
  // WS_VSCROLL only while its lines overflow.
  DWORD requested_style;
  int requested_height;
};

// While it lives, notes how each window of this thread was asked to be
// created (a CBT hook sees the CREATESTRUCT).
class CreationLog {
 public:
  CreationLog();
  ~CreationLog();
  CreationLog(const CreationLog&) = delete;
  CreationLog& operator=(const CreationLog&) = delete;

  struct Request {
    HWND window;
    DWORD style;
    int height;
  };
  const Request* Find(HWND window) const;

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wparam, LPARAM lparam);
  HHOOK hook_ = nullptr;
  std::vector<Request> requests_;
};

// The dialog's children in creation order.
std::vector<ChildWindow> ChildrenOf(HWND dialog);

// One control as designed, in design pixels (client coordinates at 96 DPI).
struct WantControl {
  const wchar_t* class_name;
  int id;
  const wchar_t* text;  // null: not checked (lists)
  int x, y, width, height;
  DWORD style;  // the further styles asked for
};

// Checks the dialog's children against `want` scaled to `dpi`, in creation
// order: class, id, text, place and size, styles, no tab stop, one font for
// all. Needs a CreationLog alive while the dialog was created.
void ExpectControls(HWND dialog, const std::vector<WantControl>& want, std::uint32_t dpi = 96);

// Lines of a list box, or entries of a combo box.
std::vector<std::wstring> ListBoxLines(HWND list);
std::vector<std::wstring> ComboEntries(HWND combo);

// The face name and height of the font a window was given (WM_GETFONT).
struct FontInfo {
  std::wstring face;
  LONG height = 0;
};
FontInfo FontOf(HWND window);
// The message font the dialogs should use at `dpi`.
FontInfo MessageFontAt(std::uint32_t dpi);

// Outer rectangle on the screen.
RECT WindowRectOf(HWND window);

// The primary monitor's work area.
RECT WorkArea();

// A plain visible top-level window of this test, to own a dialog.
HWND CreateOwnerWindow(int x, int y, int width, int height, bool visible);

}  // namespace lumora::testing
