#pragma once

// What the dialog tests share: reading a dialog's windows back as the user
// sees them, and checking them against what a user needs of a dialog.

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/ui/dialog_script_win.h"

namespace lumora::testing {

// The module the dialogs are made from: the test program itself.
inline const HINSTANCE kInstance = GetModuleHandleW(nullptr);

// One child window as found on the screen, in client coordinates of its
// dialog.
struct ChildWindow {
  HWND window;
  std::wstring class_name;
  int id;
  std::wstring text;
  RECT rect;
  DWORD style;
};

// The dialog's children in creation order.
std::vector<ChildWindow> ChildrenOf(HWND dialog);

// One control as the user meets it: its kind (window class), its id (0 for a
// label) and the text it shows (null: not checked, as for lists).
struct WantControl {
  const wchar_t* class_name;
  int id;
  const wchar_t* text;
};

// Checks the dialog's children, in creation order, against `want`.
void ExpectControls(HWND dialog, const std::vector<WantControl>& want);

// Checks what the user needs of any dialog at `dpi`: its whole title, every
// control inside the client area and clear of the others, all in the system's
// message font for that DPI. Each pair of `side_by_side` (indices into the
// children) share a row, the first left of the second: a label and its field,
// or two buttons.
void ExpectUsableLayout(HWND dialog, std::uint32_t dpi, const std::vector<std::pair<int, int>>& side_by_side);

// Checks that each child's rectangle is `earlier` (taken at 96 DPI) scaled to
// `dpi`, give or take 5 % and 2 pixels: the controls follow the font, whose
// hinted text does not scale exactly. Combo boxes and list boxes are compared
// without their bottom: their height follows the font's.
void ExpectScaledFrom96(HWND dialog, const std::vector<RECT>& earlier, std::uint32_t dpi);
std::vector<RECT> ChildRects(HWND dialog);

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
// The width the window's title needs in the caption font at `dpi`, beside
// the close button.
LONG TitleRoomNeeded(HWND window, std::uint32_t dpi);

// Outer rectangle on the screen.
RECT WindowRectOf(HWND window);

// The primary monitor's work area.
RECT WorkArea();

// A plain top-level window of this test, to own a dialog.
HWND CreateOwnerWindow(int x, int y, int width, int height, bool visible);

}  // namespace lumora::testing
