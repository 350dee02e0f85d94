#pragma once

// DPI support for every window of the program. The newer DPI functions are
// looked up at run time, so the program still starts on systems without them.

#include <windows.h>

#include <cstdint>

#include "overlay/dpi.h"

namespace lumora {

// An export of user32.dll, or null. The module handle is looked up once.
FARPROC User32Proc(const char* name);

// Shcore.dll, loaded on first use and never freed; null where it is missing.
HMODULE ShcoreModule();

// The DPI of `window`: its own DPI, else the effective DPI of its nearest
// monitor, else the screen's; 96 when every query gives 0. Never 0.
std::uint32_t WindowDpi(HWND window);

// How EnableDpiAwareness set the process up.
enum class DpiAwarenessCall : std::int32_t {
  PerMonitorV2 = 0,  // SetProcessDpiAwarenessContext(PER_MONITOR_AWARE_V2)
  PerMonitor = 1,    // SetProcessDpiAwareness(PROCESS_PER_MONITOR_DPI_AWARE)
  SystemAware = 2,   // SetProcessDPIAware()
};

// Makes the process DPI aware, the most capable way the system offers. Called
// once at start, before the first window.
DpiAwarenessCall EnableDpiAwareness();

// S(n) at the window's DPI.
inline std::int32_t ScaleForWindow(std::int32_t design_pixels, HWND window) {
  return ScaleForDpi(design_pixels, WindowDpi(window));
}

}  // namespace lumora
