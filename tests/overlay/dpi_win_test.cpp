// The DPI functions against the real user32 and Shcore (under Wine on the
// test bench).

#include "overlay/dpi_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>

#include "base/scoped_win.h"

namespace lumora {
namespace {

// The scaling rule itself is checked natively against a table; here only that
// it agrees with the system's MulDiv where rounding and overflow decide.
TEST(OverlayDpiTest, ScaleForDpiAgreesWithMulDivAtItsEdges) {
  struct Case {
    std::int32_t n;
    int dpi;
  };
  // Halves (16.5 at 144) go away from zero, just below a half goes down; then
  // the largest results that fit and the first that do not (MulDiv's -1).
  const Case cases[] = {
      {1, 48},
      {-1, 48},
      {11, 144},
      {-11, 144},
      {1, 47},
      {-1, 47},
      {28, 0},
      {1000, 1000},
      {INT32_MAX, 96},
      {INT32_MAX / 2, 192},
      {INT32_MAX / 2 + 1, 192},
      {INT32_MAX, 97},
      {-INT32_MAX, 97},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ScaleForDpi(c.n, static_cast<std::uint32_t>(c.dpi)), MulDiv(c.n, c.dpi, 96))
        << c.n << " at " << c.dpi;
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
