#include "overlay/dpi_win.h"

#include "base/scoped_win.h"

namespace lumora {

namespace {

using SetProcessDpiAwarenessContextFn = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
// Shcore's PROCESS_DPI_AWARENESS and MONITOR_DPI_TYPE are plain enums.
using SetProcessDpiAwarenessFn = HRESULT(WINAPI*)(int);
using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);

constexpr int kProcessPerMonitorDpiAware = 2;
constexpr int kMdtEffectiveDpi = 0;

template <typename Fn>
Fn Cast(FARPROC proc) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
}

FARPROC ShcoreProc(const char* name) {
  HMODULE module = ShcoreModule();
  return module != nullptr ? GetProcAddress(module, name) : nullptr;
}

std::uint32_t ScreenDpi() {
  const ScopedGetDC screen(nullptr);
  const int dpi = screen.get() != nullptr ? GetDeviceCaps(screen.get(), LOGPIXELSX) : 0;
  return dpi > 0 ? static_cast<std::uint32_t>(dpi) : kDesignDpi;
}

}  // namespace

FARPROC User32Proc(const char* name) {
  static const HMODULE user32 = GetModuleHandleW(L"user32.dll");
  return user32 != nullptr ? GetProcAddress(user32, name) : nullptr;
}

HMODULE ShcoreModule() {
  static const HMODULE shcore = LoadLibraryW(L"Shcore.dll");
  return shcore;
}

std::uint32_t WindowDpi(HWND window) {
  static const auto get_dpi_for_window = Cast<GetDpiForWindowFn>(User32Proc("GetDpiForWindow"));
  static const auto get_dpi_for_monitor = Cast<GetDpiForMonitorFn>(ShcoreProc("GetDpiForMonitor"));
  if (window != nullptr && get_dpi_for_window != nullptr) {
    if (const UINT dpi = get_dpi_for_window(window); dpi != 0) {
      return dpi;
    }
  }
  if (window != nullptr && get_dpi_for_monitor != nullptr) {
    UINT dpi_x = 0;
    UINT dpi_y = 0;
    HMONITOR monitor = MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST);
    if (SUCCEEDED(get_dpi_for_monitor(monitor, kMdtEffectiveDpi, &dpi_x, &dpi_y)) && dpi_x != 0) {
      return dpi_x;
    }
  }
  return ScreenDpi();
}

DpiAwarenessCall EnableDpiAwareness() {
  if (const auto set_context =
          Cast<SetProcessDpiAwarenessContextFn>(User32Proc("SetProcessDpiAwarenessContext"))) {
    if (set_context(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)) {
      return DpiAwarenessCall::PerMonitorV2;
    }
  }
  if (const auto set_awareness = Cast<SetProcessDpiAwarenessFn>(ShcoreProc("SetProcessDpiAwareness"))) {
    if (SUCCEEDED(set_awareness(kProcessPerMonitorDpiAware))) {
      return DpiAwarenessCall::PerMonitor;
    }
  }
  SetProcessDPIAware();
  return DpiAwarenessCall::SystemAware;
}

}  // namespace lumora
