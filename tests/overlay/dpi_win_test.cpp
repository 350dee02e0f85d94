// The DPI functions against the real user32 and Shcore (under Wine on the
// test bench).

#include "overlay/dpi_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>

#include "base/scoped_win.h"

namespace lumora {
namespace {

TEST(OverlayDpiTest, ScaleForDpiIsMulDiv) {
  for (const int dpi : {0, 1, 47, 48, 72, 96, 120, 144, 168, 192, 240, 288, 384, 480, 1000}) {
    for (int n = -1000; n <= 1000; ++n) {
      ASSERT_EQ(ScaleForDpi(n, static_cast<std::uint32_t>(dpi)), MulDiv(n, dpi, 96)) << n << " at " << dpi;
    }
  }
  for (const int n : {INT32_MAX / 2, INT32_MAX / 2 + 1, INT32_MAX - 1, INT32_MAX, -INT32_MAX}) {
    for (const int dpi : {95, 96, 97, 192, 193}) {
      EXPECT_EQ(ScaleForDpi(n, static_cast<std::uint32_t>(dpi)), MulDiv(n, dpi, 96)) << n << " at " << dpi;
    }
  }
}

TEST(OverlayDpiTest, LooksUpExportsOnce) {
  EXPECT_NE(User32Proc("GetDpiForWindow"), nullptr);
  EXPECT_EQ(User32Proc("GetDpiForWindow"),
            GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow"));
  EXPECT_EQ(User32Proc("NoSuchExportInUser32"), nullptr);
  HMODULE shcore = ShcoreModule();
  ASSERT_NE(shcore, nullptr);
  EXPECT_EQ(ShcoreModule(), shcore);
  EXPECT_NE(GetProcAddress(shcore, "GetDpiForMonitor"), nullptr);
}

TEST(OverlayDpiTest, WindowDpiFallsBackAndIsNeverZero) {
  const ScopedGetDC screen(nullptr);
  const int screen_dpi = GetDeviceCaps(screen.get(), LOGPIXELSX);
  const std::uint32_t want_screen = screen_dpi > 0 ? static_cast<std::uint32_t>(screen_dpi) : 96;

  HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(WindowDpi(window), GetDpiForWindow(window));
  EXPECT_NE(WindowDpi(window), 0u);
  // No window: straight to the screen's DPI.
  EXPECT_EQ(WindowDpi(nullptr), want_screen);
  DestroyWindow(window);
  // A handle that is no longer a window gives 0 from GetDpiForWindow; a
  // monitor or the screen still answers.
  EXPECT_NE(WindowDpi(window), 0u);
  EXPECT_EQ(ScaleForWindow(28, nullptr), MulDiv(28, static_cast<int>(want_screen), 96));
}

TEST(OverlayDpiTest, EnableDpiAwarenessLeavesTheProcessAware) {
  // Windows 10 takes the first call. Wine 8 refuses PER_MONITOR_AWARE_V2 as an
  // unknown context and starts every process per-monitor aware already, so
  // there the chain ends at SetProcessDPIAware.
  const DpiAwarenessCall first = EnableDpiAwareness();
  EXPECT_TRUE(first == DpiAwarenessCall::PerMonitorV2 || first == DpiAwarenessCall::SystemAware)
      << static_cast<int>(first);
  const DPI_AWARENESS awareness = GetAwarenessFromDpiAwarenessContext(GetThreadDpiAwarenessContext());
  EXPECT_EQ(awareness, DPI_AWARENESS_PER_MONITOR_AWARE);
  // Once set, the awareness cannot be set again: both newer calls refuse, the
  // last one reports nothing, and the awareness stays.
  EXPECT_EQ(EnableDpiAwareness(), DpiAwarenessCall::SystemAware);
  EXPECT_EQ(GetAwarenessFromDpiAwarenessContext(GetThreadDpiAwarenessContext()), awareness);
}

}  // namespace
}  // namespace lumora
