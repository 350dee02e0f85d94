// The overlay window on the real desktop (Wine's, on the test bench): its
// styles, lifecycle, focus and mouse behaviour, and what it puts on the
// screen, read back from the screen device context.

#include "overlay/live_text_overlay_win.h"
#include "overlay/overlay_text_win.h"
#include "tests/support/pump_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/scoped_win.h"
#include "base/window_proc_win.h"
#include "overlay/dpi_win.h"

namespace lumora {
namespace {

const std::string kSentence = "今天天气很好，我们去公园散步吧。";
const std::string kHello = "你好";
// "今", twenty ideographic spaces, "吧": the middle of the panel stays empty.
std::string GappedText() {
  std::string text = "今";
  for (int i = 0; i < 20; ++i) {
    text += "\xE3\x80\x80";
  }
  return text + "吧";
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  return testing::PumpMessagesUntil(done, timeout);
}

void PumpFor(std::chrono::milliseconds time) {
  PumpUntil([] { return false; }, time);
}

constexpr auto kPatience = std::chrono::milliseconds(3000);

ScreenRect PrimaryWorkArea() {
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &info);
  return {info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom};
}

// A plain top-level window of one colour that records the clicks it gets,
// with an optional edit control holding the focus.
class ProbeWindow : public WindowOwner<ProbeWindow> {
 public:
  ProbeWindow(const RECT& rect, COLORREF colour, bool with_edit, bool topmost = false)
      : brush_(CreateSolidBrush(colour)) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = &ProbeWindow::WindowProc;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.lpszClassName = L"Parlino.OverlayTestProbe";
    RegisterClassW(&window_class);
    CreateWindowExW(topmost ? WS_EX_TOPMOST : 0, L"Parlino.OverlayTestProbe", L"probe", WS_POPUP | WS_VISIBLE,
                    rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr,
                    instance, this);
    if (with_edit) {
      edit_ = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 5, 5, 200, 30, window(), nullptr,
                              instance, nullptr);
      SetForegroundWindow(window());
      SetFocus(edit_);
    }
    PumpUntil([this] { return IsWindowVisible(window()) != FALSE; }, kPatience);
    PumpFor(std::chrono::milliseconds(100));
  }
  ~ProbeWindow() { DestroyWindow(window()); }
  ProbeWindow(const ProbeWindow&) = delete;
  ProbeWindow& operator=(const ProbeWindow&) = delete;

  HWND edit() const { return edit_; }
  const std::vector<POINT>& clicks() const { return clicks_; }

 private:
  friend class WindowOwner<ProbeWindow>;
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_LBUTTONDOWN) {
      POINT point{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
      ClientToScreen(window(), &point);
      clicks_.push_back(point);
      return 0;
    }
    if (message == WM_ERASEBKGND) {
      RECT client;
      GetClientRect(window(), &client);
      FillRect(reinterpret_cast<HDC>(wparam), &client, brush_.get());
      return 1;
    }
    return DefaultHandling(message, wparam, lparam);
  }

  ScopedGdiObject<HBRUSH> brush_;
  HWND edit_ = nullptr;
  std::vector<POINT> clicks_;
};

struct Rgb {
  int r = 0;
  int g = 0;
  int b = 0;
};

std::string Show(const Rgb& c) {
  return "(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) + ")";
}

bool Near(const Rgb& a, const Rgb& b, int tolerance = 3) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
         std::abs(a.b - b.b) <= tolerance;
}

// An opaque colour as the screen shows it through the constant alpha 219,
// over black.
Rgb ThroughConstantAlpha(std::uint32_t argb) {
  const auto scale = [](std::uint32_t channel) {
    return static_cast<int>((channel * kOverlayConstantAlpha + 127) / 255);
  };
  return {scale((argb >> 16) & 0xFF), scale((argb >> 8) & 0xFF), scale(argb & 0xFF)};
}

// A copy of part of the screen as the display shows it, layered windows
// included.
class ScreenCapture {
 public:
  explicit ScreenCapture(const RECT& rect)
      : left_(rect.left), top_(rect.top), width_(rect.right - rect.left), height_(rect.bottom - rect.top) {
    const ScopedGetDC screen(nullptr);
    ScopedMemoryDC memory(CreateCompatibleDC(screen.get()));
    void* bits = nullptr;
    ScopedGdiObject<HBITMAP> dib(CreateArgbSurface(screen.get(), width_, height_, &bits));
    if (bits == nullptr) {
      return;
    }
    {
      const ScopedSelectObject select(memory.get(), dib.get());
      // CAPTUREBLT: Windows leaves layered windows out of a screen copy without it.
      BitBlt(memory.get(), 0, 0, width_, height_, screen.get(), left_, top_, SRCCOPY | CAPTUREBLT);
      GdiFlush();
    }
    const auto* pixels = static_cast<const std::uint32_t*>(bits);
    pixels_.assign(pixels, pixels + static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_));
  }

  // Screen coordinates.
  Rgb At(int x, int y) const {
    const std::uint32_t p = pixels_[static_cast<std::size_t>(y - top_) * static_cast<std::size_t>(width_) +
                                    static_cast<std::size_t>(x - left_)];
    return {static_cast<int>((p >> 16) & 0xFF), static_cast<int>((p >> 8) & 0xFF),
            static_cast<int>(p & 0xFF)};
  }

  // Pixels of the rectangle (screen coordinates) darker than `level`.
  int CountDark(const RECT& rect, int level) const {
    int count = 0;
    for (int y = rect.top; y < rect.bottom; ++y) {
      for (int x = rect.left; x < rect.right; ++x) {
        const Rgb c = At(x, y);
        count += (c.r + c.g + c.b) / 3 < level ? 1 : 0;
      }
    }
    return count;
  }

  bool empty() const { return pixels_.empty(); }

 private:
  int left_;
  int top_;
  int width_;
  int height_;
  std::vector<std::uint32_t> pixels_;
};

RECT ScreenRectOf(const OverlayLayout& l) { return {l.x, l.y, l.x + l.width, l.y + l.height}; }

RECT TextBoxOnScreen(const OverlayLayout& l) {
  return {l.x + l.text_box.x, l.y + l.text_box.y, l.x + l.text_box.x + l.text_box.width,
          l.y + l.text_box.y + l.text_box.height};
}

// Waits until the screen shows `want` at (x, y).
bool WaitForColour(int x, int y, const Rgb& want, Rgb* seen) {
  return PumpUntil(
      [&] {
        *seen = ScreenCapture(RECT{x, y, x + 1, y + 1}).At(x, y);
        return Near(*seen, want);
      },
      kPatience);
}

std::uint32_t g_fake_dpi = 96;
std::uint32_t FakeDpi(HWND) { return g_fake_dpi; }

class LiveTextOverlayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // As the host does before its first window.
    EnableDpiAwareness();
    // The host's hidden window: the overlay's owner.
    owner_ = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(owner_, nullptr);
  }
  void TearDown() override {
    if (IsWindow(owner_)) {
      DestroyWindow(owner_);
    }
  }

  HWND owner_ = nullptr;
};

using LiveTextOverlayScreenTest = LiveTextOverlayTest;

TEST_F(LiveTextOverlayTest, WindowStylesOwnerAndClass) {
  LiveTextOverlay overlay(GetModuleHandleW(nullptr), owner_);
  HWND window = overlay.window();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)), 0x080800A8u);
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)) & ~WS_CLIPSIBLINGS, WS_POPUP);
  EXPECT_EQ(GetWindow(window, GW_OWNER), owner_);
  wchar_t class_name[64] = {};
  GetClassNameW(window, class_name, 64);
  EXPECT_STREQ(class_name, L"Lumora.LiveTextOverlay");
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_FALSE(overlay.visible());
  EXPECT_EQ(overlay.dpi(), WindowDpi(owner_));
}

TEST_F(LiveTextOverlayTest, EmptyTextCreatesTheWindowAndStaysHidden) {
  LiveTextOverlay overlay(GetModuleHandleW(nullptr), owner_);
  // Gone from under the overlay (as when something destroys it): the next
  // ShowText makes a new one.
  DestroyWindow(overlay.window());
  ASSERT_EQ(overlay.window(), nullptr);
  overlay.ShowText("");
  ASSERT_NE(overlay.window(), nullptr);
  EXPECT_TRUE(IsWindow(overlay.window()));
  EXPECT_FALSE(IsWindowVisible(overlay.window()));
  EXPECT_FALSE(overlay.visible());
  EXPECT_EQ(overlay.layout().width, 0);
  // Empty text while shown hides it.
  overlay.ShowText(kHello);
  EXPECT_TRUE(IsWindowVisible(overlay.window()));
  overlay.ShowText("");
  EXPECT_FALSE(IsWindowVisible(overlay.window()));
  EXPECT_FALSE(overlay.visible());
  EXPECT_TRUE(overlay.text().empty());
  EXPECT_EQ(overlay.layout().height, 0);
}

TEST_F(LiveTextOverlayTest, IllFormedUtf8ShowsReplacementCharacters) {
  LiveTextOverlay overlay(GetModuleHandleW(nullptr), owner_);
  overlay.ShowText("ok\xFF" + kHello + "\xE4\xBD");
  EXPECT_EQ(overlay.text(), L"ok\uFFFD你好\uFFFD");
  EXPECT_TRUE(overlay.visible());
}

TEST_F(LiveTextOverlayTest, ShowingNeverTakesTheFocus) {
  ProbeWindow probe(RECT{40, 40, 400, 200}, RGB(200, 200, 200), true);
  ASSERT_EQ(GetForegroundWindow(), probe.window());
  ASSERT_EQ(GetFocus(), probe.edit());
  LiveTextOverlay overlay(GetModuleHandleW(nullptr), owner_);
  overlay.ShowText(kSentence);
  PumpFor(std::chrono::milliseconds(150));
  overlay.ShowText(kSentence + kSentence);
  overlay.SetThemeColor(OverlayThemeColor::Green);
  overlay.SetPosition(OverlayPosition::TopLeft);
  PumpFor(std::chrono::milliseconds(150));
  EXPECT_TRUE(IsWindowVisible(overlay.window()));
  EXPECT_EQ(GetForegroundWindow(), probe.window());
  EXPECT_EQ(GetFocus(), probe.edit());
  EXPECT_NE(GetActiveWindow(), overlay.window());
}

TEST_F(LiveTextOverlayTest, ClicksPassThroughToTheWindowBeneath) {
  const ScreenRect work = PrimaryWorkArea();
  ProbeWindow probe(RECT{work.left, work.top, work.right, work.bottom}, RGB(0, 0, 0), false);
  LiveTextOverlay overlay(GetModuleHandleW(nullptr), owner_);
  overlay.ShowText(kSentence);
  PumpFor(std::chrono::milliseconds(100));
  const OverlayLayout& l = overlay.layout();
  const POINT centre{l.x + l.width / 2, l.y + l.height / 2};
  EXPECT_EQ(WindowFromPoint(centre), probe.window());

  SetCursorPos(centre.x, centre.y);
  INPUT clicks[2] = {};
  clicks[0].type = INPUT_MOUSE;
  clicks[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  clicks[1].type = INPUT_MOUSE;
  clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  ASSERT_EQ(SendInput(2, clicks, sizeof(INPUT)), 2u);
  ASSERT_TRUE(PumpUntil([&] { return !probe.clicks().empty(); }, kPatience));
  EXPECT_EQ(probe.clicks()[0].x, centre.x);
  EXPECT_EQ(probe.clicks()[0].y, centre.y);
  EXPECT_TRUE(overlay.visible());
}

TEST_F(LiveTextOverlayTest, TimerRunsOnlyWhileVisible) {
  LiveTextOverlay overlay(GetModuleHandleW(nullptr), owner_);
  PumpFor(std::chrono::milliseconds(200));
  EXPECT_EQ(overlay.frame(), 0u) << "no timer before the first text";

  overlay.ShowText(kHello);
  ASSERT_TRUE(PumpUntil([&] { return overlay.frame() >= 3; }, kPatience));

  overlay.Hide();
  const std::uint32_t frame = overlay.frame();
  PumpFor(std::chrono::milliseconds(300));
  EXPECT_EQ(overlay.frame(), frame) << "the timer stopped";
  // A stray tick while hidden, and a timer of another id, draw nothing.
  SendMessageW(overlay.window(), WM_TIMER, kOverlayTimerId, 0);
  EXPECT_EQ(overlay.frame(), frame);

  overlay.ShowText(kSentence);
  SendMessageW(overlay.window(), WM_TIMER, kOverlayTimerId + 1, 0);
  EXPECT_EQ(overlay.frame(), frame);
  // The animation continues from where it was.
  ASSERT_TRUE(PumpUntil([&] { return overlay.frame() >= frame + 3; }, kPatience));
  EXPECT_TRUE(KillTimer(overlay.window(), kOverlayTimerId)) << "timer 60 was running";
}

TEST_F(LiveTextOverlayTest, TextWithoutUpdatesLeavesTheScreen) {
  LiveTextOverlay overlay(GetModuleHandleW(nullptr), owner_);
  overlay.SetStaleTimeoutForTest(600);
  overlay.ShowText(kHello);
  // Each update starts the wait afresh: shown well past one wait.
  for (int i = 0; i < 6; ++i) {
    PumpFor(std::chrono::milliseconds(150));
    EXPECT_TRUE(overlay.visible()) << "after " << (i + 1) * 150 << " ms";
    overlay.ShowText(i % 2 == 0 ? kSentence : kHello);
  }
  ASSERT_TRUE(PumpUntil([&] { return !overlay.visible(); }, kPatience));
  EXPECT_FALSE(IsWindowVisible(overlay.window()));
  EXPECT_FALSE(KillTimer(overlay.window(), kOverlayTimerId)) << "the animation stopped with it";
}

TEST_F(LiveTextOverlayTest, ThemeAndPositionWhileHiddenDoNotShowIt) {
  LiveTextOverlay overlay(GetModuleHandleW(nullptr), owner_);
  overlay.SetThemeColor(OverlayThemeColor::Pink);
  overlay.SetPosition(OverlayPosition::TopLeft);
  PumpFor(std::chrono::milliseconds(100));
  EXPECT_FALSE(IsWindowVisible(overlay.window()));
  EXPECT_FALSE(overlay.visible());
  EXPECT_EQ(overlay.layout().width, 0);

  overlay.ShowText(kHello);
  overlay.Hide();
  overlay.SetPosition(OverlayPosition::BottomRight);
  EXPECT_FALSE(IsWindowVisible(overlay.window()));

  // Used at the next text.
  overlay.ShowText(kHello);
  const ScreenRect work = PrimaryWorkArea();
  const OverlayLayout& l = overlay.layout();
  EXPECT_EQ(l.x + l.width, work.right - ScaleForDpi(28, overlay.dpi()));
  EXPECT_EQ(l.y + l.height, work.bottom - ScaleForDpi(28, overlay.dpi()));
}

TEST_F(LiveTextOverlayTest, WindowFollowsTheLayout) {
  LiveTextOverlay overlay(GetModuleHandleW(nullptr), owner_);
  overlay.SetPosition(OverlayPosition::TopRight);
  overlay.ShowText(kHello);
  const OverlayLayout small = overlay.layout();
  RECT rect{};
  GetWindowRect(overlay.window(), &rect);
  EXPECT_EQ(rect.left, small.x);
  EXPECT_EQ(rect.top, small.y);
  EXPECT_EQ(rect.right - rect.left, small.width);
  EXPECT_EQ(rect.bottom - rect.top, small.height);

  // A longer text redraws at the new size and the animation goes on.
  overlay.ShowText(kSentence + kSentence + kSentence);
  const OverlayLayout large = overlay.layout();
  EXPECT_GT(large.width, small.width);
  EXPECT_GT(large.height, small.height);
  EXPECT_EQ(large.y, small.y) << "top positions grow downward";
  GetWindowRect(overlay.window(), &rect);
  EXPECT_EQ(rect.right - rect.left, large.width);
  EXPECT_EQ(rect.bottom - rect.top, large.height);
  const std::uint32_t frame = overlay.frame();
  EXPECT_TRUE(PumpUntil([&] { return overlay.frame() >= frame + 3; }, kPatience));
}

TEST_F(LiveTextOverlayTest, DpiChangeRelaysOut) {
  LiveTextOverlay overlay(GetModuleHandleW(nullptr), owner_);
  g_fake_dpi = 96;
  overlay.SetDpiQueryForTest(FakeDpi);
  overlay.ShowText(kSentence);
  const OverlayLayout at96 = overlay.layout();
  ASSERT_EQ(at96.indicator_size, 34);

  // The display scale goes to 150 %: the system tells the window.
  g_fake_dpi = 144;
  RECT suggested{0, 0, 10, 10};
  SendMessageW(overlay.window(), WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
  const OverlayLayout& at144 = overlay.layout();
  EXPECT_EQ(overlay.dpi(), 144u);
  EXPECT_EQ(at144.indicator_size, 51);
  EXPECT_EQ(at144.indicator_left, 60);
  EXPECT_NEAR(at144.width - 195, (at96.width - 130) * 3 / 2, 6) << "text measured at the larger font";
  EXPECT_EQ(at144.height, 108 + std::max(51, at144.text_box.height));
  RECT rect{};
  GetWindowRect(overlay.window(), &rect);
  EXPECT_EQ(rect.right - rect.left, at144.width) << "not the suggested rectangle";
  EXPECT_EQ(rect.bottom - rect.top, at144.height);

  // While hidden the new DPI waits for the next text.
  overlay.Hide();
  g_fake_dpi = 120;
  SendMessageW(overlay.window(), WM_DPICHANGED, MAKEWPARAM(120, 120), reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(overlay.dpi(), 120u);
  EXPECT_FALSE(IsWindowVisible(overlay.window()));
  EXPECT_EQ(overlay.layout().width, 0);
  overlay.ShowText(kHello);
  EXPECT_EQ(overlay.layout().indicator_size, 43);

  // A message without a DPI counts as 96.
  overlay.Hide();
  SendMessageW(overlay.window(), WM_DPICHANGED, 0, reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(overlay.dpi(), 96u);
}

TEST_F(LiveTextOverlayTest, DestroyedOwnerTakesTheWindowSafely) {
  auto overlay = std::make_unique<LiveTextOverlay>(GetModuleHandleW(nullptr), owner_);
  overlay->ShowText(kHello);
  HWND window = overlay->window();
  // At exit the host's window goes first, taking the owned overlay window.
  DestroyWindow(owner_);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(overlay->window(), nullptr);
  // Nothing may reach the dead handle: later calls and the destructor are quiet.
  overlay->Hide();
  overlay->ShowText(kSentence);
  overlay.reset();
}

TEST_F(LiveTextOverlayScreenTest, PanelColourOfEveryTheme) {
  const ScreenRect work = PrimaryWorkArea();
  ProbeWindow backdrop(RECT{work.left, work.top, work.right, work.bottom}, RGB(0, 0, 0), false);
  LiveTextOverlay overlay(GetModuleHandleW(nullptr), owner_);
  overlay.ShowText(GappedText());
  for (std::int32_t theme = 0; theme < kOverlayThemeColorCount; ++theme) {
    overlay.SetThemeColor(static_cast<OverlayThemeColor>(theme));
    const OverlayLayout& l = overlay.layout();
    const Rgb want = ThroughConstantAlpha(PaletteForTheme(static_cast<OverlayThemeColor>(theme)).panel);
    Rgb seen;
    EXPECT_TRUE(WaitForColour(l.x + l.width / 2, l.y + l.height / 2, want, &seen))
        << "theme " << theme << ": want " << Show(want) << ", the screen shows " << Show(seen);
  }
  // White through the constant alpha: 219 of 255, not opaque.
  overlay.SetThemeColor(OverlayThemeColor::White);
  const OverlayLayout& l = overlay.layout();
  Rgb seen;
  ASSERT_TRUE(WaitForColour(l.x + l.width / 2, l.y + l.height / 2, Rgb{219, 219, 219}, &seen)) << Show(seen);
}

TEST_F(LiveTextOverlayScreenTest, PositionOnScreenFollowsTheSetting) {
  const ScreenRect work = PrimaryWorkArea();
  ProbeWindow backdrop(RECT{work.left, work.top, work.right, work.bottom}, RGB(0, 0, 0), false);
  LiveTextOverlay overlay(GetModuleHandleW(nullptr), owner_);
  overlay.SetThemeColor(OverlayThemeColor::Yellow);
  overlay.SetPosition(OverlayPosition::TopLeft);
  overlay.ShowText(GappedText());
  const Rgb yellow = ThroughConstantAlpha(PaletteForTheme(OverlayThemeColor::Yellow).panel);
  const std::int32_t margin = ScaleForDpi(28, overlay.dpi());
  const OverlayLayout top_left = overlay.layout();
  ASSERT_EQ(top_left.x, work.left + margin);
  ASSERT_EQ(top_left.y, work.top + margin);
  const POINT old_centre{top_left.x + top_left.width / 2, top_left.y + top_left.height / 2};
  Rgb seen;
  EXPECT_TRUE(WaitForColour(old_centre.x, old_centre.y, yellow, &seen)) << Show(seen);

  overlay.SetPosition(OverlayPosition::BottomRight);
  const OverlayLayout bottom_right = overlay.layout();
  ASSERT_EQ(bottom_right.x + bottom_right.width, work.right - margin);
  ASSERT_EQ(bottom_right.y + bottom_right.height, work.bottom - margin);
  EXPECT_TRUE(WaitForColour(bottom_right.x + bottom_right.width / 2, bottom_right.y + bottom_right.height / 2,
                            yellow, &seen))
      << Show(seen);
  EXPECT_TRUE(WaitForColour(old_centre.x, old_centre.y, Rgb{0, 0, 0}, &seen))
      << "left behind: " << Show(seen);
}

TEST_F(LiveTextOverlayScreenTest, TextIsDrawnDarkInsideTheTextBox) {
  const ScreenRect work = PrimaryWorkArea();
  ProbeWindow backdrop(RECT{work.left, work.top, work.right, work.bottom}, RGB(0, 0, 0), false);
  LiveTextOverlay overlay(GetModuleHandleW(nullptr), owner_);
  overlay.ShowText(kSentence);
  const OverlayLayout& l = overlay.layout();
  const OverlayMetrics m = MetricsForDpi(overlay.dpi());
  // The panel above the text, once the picture is on the screen.
  const int inset_y = l.y + m.shadow_margin + m.vertical_inset / 2;
  Rgb seen;
  ASSERT_TRUE(WaitForColour(l.x + l.width / 2, inset_y, Rgb{219, 219, 219}, &seen)) << Show(seen);

  const ScreenCapture shot(ScreenRectOf(l));
  ASSERT_FALSE(shot.empty());
  const RECT box = TextBoxOnScreen(l);
  EXPECT_GT(shot.CountDark(box, 100), 200) << "the sentence's strokes";
  const RECT above{box.left, l.y + m.shadow_margin + 3, box.right, box.top - 1};
  EXPECT_EQ(shot.CountDark(above, 150), 0) << "nothing above the text";
  const RECT right{box.right + 3, box.top, l.x + l.width - m.shadow_margin - 4, box.bottom};
  EXPECT_EQ(shot.CountDark(right, 150), 0) << "nothing right of the text";
  const RECT indicator{l.x + l.indicator_left, l.y + l.indicator_top,
                       l.x + l.indicator_left + l.indicator_size, l.y + l.indicator_top + l.indicator_size};
  EXPECT_GT(shot.CountDark(indicator, 100), 3 * m.bar_width * m.bar_min_height / 2) << "the indicator's bars";
}

TEST_F(LiveTextOverlayScreenTest, TransparentAroundThePanel) {
  const ScreenRect work = PrimaryWorkArea();
  ProbeWindow backdrop(RECT{work.left, work.top, work.right, work.bottom}, RGB(0, 0, 255), false);
  LiveTextOverlay overlay(GetModuleHandleW(nullptr), owner_);
  overlay.SetThemeColor(OverlayThemeColor::Green);
  overlay.ShowText(GappedText());
  const OverlayLayout& l = overlay.layout();
  const Rgb green = ThroughConstantAlpha(PaletteForTheme(OverlayThemeColor::Green).panel);
  // Only red and green: a compositing desktop would add some of the blue
  // beneath to the panel, Wine's X screen does not.
  ASSERT_TRUE(PumpUntil(
      [&] {
        const Rgb c = ScreenCapture(ScreenRectOf(l)).At(l.x + l.width / 2, l.y + l.height / 2);
        return std::abs(c.r - green.r) <= 3 && std::abs(c.g - green.g) <= 3;
      },
      kPatience));
  const ScreenCapture shot(ScreenRectOf(l));
  for (const POINT corner : {POINT{l.x, l.y}, POINT{l.x + l.width - 1, l.y}, POINT{l.x, l.y + l.height - 1},
                             POINT{l.x + l.width - 1, l.y + l.height - 1}}) {
    const Rgb c = shot.At(corner.x, corner.y);
    EXPECT_TRUE(Near(c, Rgb{0, 0, 255}, 0)) << "corner " << corner.x << "," << corner.y << ": " << Show(c);
  }
}

TEST_F(LiveTextOverlayScreenTest, ScreenShowsThePictureThroughConstantAlpha) {
  const ScreenRect work = PrimaryWorkArea();
  ProbeWindow backdrop(RECT{work.left, work.top, work.right, work.bottom}, RGB(0, 0, 0), false);
  LiveTextOverlay overlay(GetModuleHandleW(nullptr), owner_);
  overlay.SetThemeColor(OverlayThemeColor::Blue);
  overlay.ShowText(kSentence);
  const OverlayLayout& l = overlay.layout();
  const Rgb blue = ThroughConstantAlpha(PaletteForTheme(OverlayThemeColor::Blue).panel);
  Rgb seen;
  ASSERT_TRUE(WaitForColour(l.x + l.width / 2, l.y + ScaleForDpi(20, overlay.dpi()), blue, &seen))
      << Show(seen);
  // Stop the animation, so that the picture and the screen hold the same frame.
  KillTimer(overlay.window(), kOverlayTimerId);
  PumpFor(std::chrono::milliseconds(100));

  const std::vector<std::uint8_t> picture = overlay.SurfaceCopy();
  ASSERT_EQ(picture.size(), static_cast<std::size_t>(l.width) * static_cast<std::size_t>(l.height) * 4);
  const ScreenCapture shot(ScreenRectOf(l));
  // Over black, composing premultiplied pixels with constant alpha 219 leaves
  // each channel times 219 / 255, whether the desktop blends (Windows) or
  // copies (Wine on a bare X server).
  int mismatches = 0;
  int translucent = 0;
  for (int y = 0; y < l.height; ++y) {
    for (int x = 0; x < l.width; ++x) {
      const std::uint8_t* p = &picture[(static_cast<std::size_t>(y) * static_cast<std::size_t>(l.width) +
                                        static_cast<std::size_t>(x)) *
                                       4];
      const Rgb want = ThroughConstantAlpha((std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0]);
      const Rgb got = shot.At(l.x + x, l.y + y);
      mismatches += Near(got, want, 2) ? 0 : 1;
      translucent += p[3] > 0 && p[3] < 255 ? 1 : 0;
      if (!Near(got, want, 2) && mismatches <= 5) {
        ADD_FAILURE() << "at " << x << "," << y << " the screen shows " << Show(got) << ", want "
                      << Show(want);
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_GT(translucent, 2 * (l.width + l.height)) << "a soft shadow and anti-aliased corners";
}

TEST_F(LiveTextOverlayScreenTest, LongTextShowsItsLastLines) {
  const ScreenRect work = PrimaryWorkArea();
  ProbeWindow backdrop(RECT{work.left, work.top, work.right, work.bottom}, RGB(0, 0, 0), false);
  // Fifty short lines of "一" at the left, then a full line of "黑": the
  // newest words.
  std::string text;
  for (int i = 0; i < 50; ++i) {
    text += "一\n";
  }
  for (int i = 0; i < 20; ++i) {
    text += "黑";
  }
  LiveTextOverlay overlay(GetModuleHandleW(nullptr), owner_);
  overlay.SetPosition(OverlayPosition::BottomLeft);
  overlay.ShowText(text);
  const OverlayLayout& l = overlay.layout();
  const OverlayMetrics m = MetricsForDpi(overlay.dpi());
  ASSERT_GT(l.hidden_lines, 0);
  RECT rect{};
  GetWindowRect(overlay.window(), &rect);
  EXPECT_GE(rect.top, work.top + m.screen_margin);
  EXPECT_EQ(rect.bottom, work.bottom - m.screen_margin);

  Rgb seen;
  ASSERT_TRUE(WaitForColour(l.x + l.width / 2, l.y + m.shadow_margin + m.vertical_inset / 2,
                            Rgb{219, 219, 219}, &seen))
      << Show(seen);
  const ScreenCapture shot(ScreenRectOf(l));
  const RECT box = TextBoxOnScreen(l);
  const int pitch = static_cast<int>(l.text_scroll / static_cast<float>(l.hidden_lines));
  const int middle = (box.left + box.right) / 2;
  const RECT last_line{middle, box.bottom - pitch + 2, box.right, box.bottom - 2};
  const RECT line_before{middle, box.bottom - 2 * pitch + 2, box.right, box.bottom - pitch - 2};
  EXPECT_GT(shot.CountDark(last_line, 100), 100) << "the newest words are on the screen";
  EXPECT_EQ(shot.CountDark(line_before, 150), 0);
  const RECT above{box.left, l.y + m.shadow_margin + 3, box.right, box.top};
  EXPECT_EQ(shot.CountDark(above, 150), 0) << "the oldest lines are cut off at the text's top edge";
}

}  // namespace
}  // namespace lumora
