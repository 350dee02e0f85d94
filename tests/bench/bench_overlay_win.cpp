// Overlay drawing speed under Wine, reported as ratios taken side by side in
// one run (these machines are noisy): a full redraw (what every text update
// costs: measuring, placing, drawing and presenting the whole picture) against
// a bare GDI+ measure-and-draw of the same text on a surface of the same size,
// and the animation frame that the 33 ms timer draws.
//
//   bench_overlay.exe [--quick]
//
// Google Benchmark is not built for MinGW, hence the small harness: batches of
// each case alternate, and the median batch of each is compared. A case that
// fails (nothing drawn, a picture not handed over) makes it exit with 1, so
// that the suite's smoke run sees it.

#include <windows.h>

#include <objidl.h>

#include <gdiplus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/gdiplus_win.h"
#include "base/scoped_win.h"
#include "base/win32_util_win.h"
#include "overlay/dpi_win.h"
#include "overlay/live_text_overlay_win.h"
#include "overlay/overlay_text_win.h"

namespace lumora {
namespace {

using Clock = std::chrono::steady_clock;

// What went wrong during the run, each told once however often it happened.
std::set<std::string> g_failures;

void Fail(const std::string& what) {
  if (g_failures.insert(what).second) {
    std::fprintf(stderr, "error: %s\n", what.c_str());
  }
}

// "今天天气很好，我们去公园散步吧。" repeated to `count` characters.
std::string ChineseText(std::size_t count) {
  const std::wstring sentence = L"今天天气很好，我们去公园散步吧。";
  std::wstring text;
  while (text.size() < count) {
    text += sentence;
  }
  text.resize(count);
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                        nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), bytes, nullptr,
                      nullptr);
  return utf8;
}

void Pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    DispatchMessageW(&message);
  }
}

// Microseconds per call of `body`, the median over `rounds` batches; the
// batches of all `bodies` alternate, so that they share the machine's moods.
std::vector<double> MedianMicros(const std::vector<std::function<void()>>& bodies, int rounds,
                                 Clock::duration batch_time) {
  std::vector<int> batch(bodies.size(), 1);
  for (std::size_t b = 0; b < bodies.size(); ++b) {
    // Calibrate: enough calls to fill the batch time.
    for (;;) {
      const auto start = Clock::now();
      for (int i = 0; i < batch[b]; ++i) {
        bodies[b]();
      }
      if (Clock::now() - start >= batch_time || batch[b] >= 1 << 20) {
        break;
      }
      batch[b] *= 2;
    }
  }
  std::vector<std::vector<double>> samples(bodies.size());
  for (int r = 0; r < rounds; ++r) {
    for (std::size_t b = 0; b < bodies.size(); ++b) {
      Pump();
      const auto start = Clock::now();
      for (int i = 0; i < batch[b]; ++i) {
        bodies[b]();
      }
      const std::chrono::duration<double, std::micro> spent = Clock::now() - start;
      samples[b].push_back(spent.count() / batch[b]);
    }
  }
  std::vector<double> medians;
  for (std::vector<double>& s : samples) {
    std::sort(s.begin(), s.end());
    medians.push_back(s[s.size() / 2]);
  }
  return medians;
}

// The least an overlay has to do for a new text: measure it at the wrapping
// width and draw it, with a font made once, on a 32-bit surface of the
// overlay's size.
class BareTextDraw {
 public:
  BareTextDraw(const std::wstring& text, int width, int height, int wrap_width)
      : text_(text), wrap_width_(wrap_width) {
    const ScopedGetDC screen(nullptr);
    memory_dc_.Reset(CreateCompatibleDC(screen.get()));
    void* bits = nullptr;
    dib_.Reset(CreateArgbSurface(screen.get(), width, height, &bits));
    if (dib_.get() == nullptr) {
      Fail("floor: no drawing surface");
    }
    selection_.Select(memory_dc_.get(), dib_.get());
    const Gdiplus::FontFamily family(L"Microsoft YaHei UI");
    font_ = std::make_unique<Gdiplus::Font>(&family, 26.0f, Gdiplus::FontStyleRegular, Gdiplus::UnitPixel);
    if (font_->GetLastStatus() != Gdiplus::Ok) {
      Fail("floor: no Microsoft YaHei UI font (status " + std::to_string(font_->GetLastStatus()) + ")");
    }
  }

  void Run() {
    Gdiplus::Graphics graphics(memory_dc_.get());
    graphics.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAliasGridFit);
    const Gdiplus::StringFormat format(0);
    Gdiplus::RectF bounds;
    const Gdiplus::Status measured = graphics.MeasureString(
        text_.c_str(), static_cast<INT>(text_.size()), font_.get(),
        Gdiplus::RectF(0, 0, static_cast<float>(wrap_width_), 1.0e7f), &format, &bounds);
    const Gdiplus::SolidBrush ink{Gdiplus::Color(0xFF282828)};
    const Gdiplus::Status drawn =
        graphics.DrawString(text_.c_str(), static_cast<INT>(text_.size()), font_.get(),
                            Gdiplus::RectF(90, 36, bounds.Width, bounds.Height), &format, &ink);
    if (measured != Gdiplus::Ok || drawn != Gdiplus::Ok) {
      Fail("floor: GDI+ did not measure and draw the text");
    }
  }

 private:
  std::wstring text_;
  int wrap_width_;
  ScopedMemoryDC memory_dc_;
  ScopedGdiObject<HBITMAP> dib_;
  ScopedSelectObject selection_;
  std::unique_ptr<Gdiplus::Font> font_;
};

// Handing a picture of the overlay's size to a layered window, the way the
// overlay does: the whole picture, or only the indicator's box.
class BarePresent {
 public:
  BarePresent(int x, int y, int width, int height, const ScreenRect& dirty)
      : destination_{x, y}, size_{width, height}, dirty_{dirty.left, dirty.top, dirty.right, dirty.bottom} {
    window_ = CreateWindowExW(
        WS_EX_TOPMOST | WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW | WS_EX_LAYERED | WS_EX_NOACTIVATE, L"STATIC",
        L"", WS_POPUP, x, y, width, height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window_ == nullptr) {
      Fail("present: no layered window");
    }
    const ScopedGetDC screen(nullptr);
    memory_dc_.Reset(CreateCompatibleDC(screen.get()));
    void* bits = nullptr;
    dib_.Reset(CreateArgbSurface(screen.get(), width, height, &bits));
    selection_.Select(memory_dc_.get(), dib_.get());
    if (bits != nullptr) {
      // An opaque picture with a transparent border, as the overlay's.
      auto* pixels = static_cast<std::uint32_t*>(bits);
      for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
          const bool inside = row >= 12 && row < height - 12 && column >= 12 && column < width - 12;
          pixels[row * width + column] = inside ? 0xFFFFFFFFu : 0u;
        }
      }
    }
    Present(nullptr);
    ShowWindow(window_, SW_SHOWNOACTIVATE);
  }
  ~BarePresent() {
    selection_.Restore();
    DestroyWindow(window_);
  }
  BarePresent(const BarePresent&) = delete;
  BarePresent& operator=(const BarePresent&) = delete;

  void Whole() { Present(nullptr); }
  void Indicator() { Present(&dirty_); }

 private:
  void Present(const RECT* dirty) {
    const ScopedGetDC screen(nullptr);
    POINT source{0, 0};
    BLENDFUNCTION blend{AC_SRC_OVER, 0, kOverlayConstantAlpha, AC_SRC_ALPHA};
    UPDATELAYEREDWINDOWINFO info{};
    info.cbSize = sizeof(info);
    info.hdcDst = screen.get();
    info.pptDst = &destination_;
    info.psize = &size_;
    info.hdcSrc = memory_dc_.get();
    info.pptSrc = &source;
    info.pblend = &blend;
    info.dwFlags = ULW_ALPHA;
    info.prcDirty = dirty;
    if (!UpdateLayeredWindowIndirect(window_, &info)) {
      Fail("present: the picture was not handed to the window, error " + std::to_string(GetLastError()));
    }
  }

  POINT destination_;
  SIZE size_;
  RECT dirty_;
  HWND window_ = nullptr;
  ScopedMemoryDC memory_dc_;
  ScopedGdiObject<HBITMAP> dib_;
  ScopedSelectObject selection_;
};

int Run(bool quick) {
  EnableDpiAwareness();
  HWND owner = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
  LiveTextOverlay overlay(GetModuleHandleW(nullptr), owner);
  const int rounds = quick ? 3 : 15;
  const auto batch_time = quick ? std::chrono::milliseconds(2) : std::chrono::milliseconds(40);

  std::printf("%-22s %10s %10s %8s %10s %8s | %10s %10s %8s\n", "text", "redraw us", "floor us", "ratio",
              "present us", "ratio2", "frame us", "dirty us", "ratio");
  for (const std::size_t count : {20u, 200u, 2000u}) {
    const std::string text = ChineseText(count);
    overlay.ShowText(text);
    const OverlayLayout layout = overlay.layout();
    // A redraw that draws nothing would be quick and meaningless.
    const std::vector<std::uint8_t> picture = overlay.SurfaceCopy();
    bool drawn = false;
    for (std::size_t i = 3; i < picture.size() && !drawn; i += 4) {
      drawn = picture[i] != 0;  // alpha of a BGRA pixel
    }
    if (overlay.window() == nullptr || !IsWindowVisible(overlay.window()) || !drawn) {
      Fail("overlay: " + std::to_string(count) + " characters were not shown");
    }
    const std::uint32_t frames_before = overlay.frame();
    BareTextDraw floor(Utf8ToWide(text), layout.width, layout.height, layout.text_box.width);
    // Beside the overlay, so that neither covers the other.
    BarePresent present(layout.x, 0, layout.width, layout.height, IndicatorDirtyRect(layout));
    HWND window = overlay.window();
    const std::vector<double> us = MedianMicros(
        {[&] { overlay.ShowText(text); }, [&] { floor.Run(); }, [&] { present.Whole(); },
         [&] { SendMessageW(window, WM_TIMER, kOverlayTimerId, 0); }, [&] { present.Indicator(); }},
        rounds, batch_time);
    if (overlay.frame() == frames_before) {
      Fail("overlay: the timer drew no animation frame");
    }
    const std::string name = std::to_string(count) + " (" + std::to_string(layout.width) + "x" +
                             std::to_string(layout.height) + ")";
    std::printf("%-22s %10.0f %10.0f %8.2f %10.0f %8.2f | %10.0f %10.0f %8.2f\n", name.c_str(), us[0], us[1],
                us[0] / us[1], us[2], us[0] / (us[1] + us[2]), us[3], us[4], us[3] / us[4]);
  }
  std::printf(
      "\nredraw: ShowText of the text (measure, place, draw, present); floor: a bare GDI+ measure and draw "
      "of\n"
      "the same text on a surface of the same size; present: handing a picture of that size to a layered\n"
      "window; ratio2 = redraw / (floor + present). frame: one animation frame; dirty: handing over only "
      "the\n"
      "indicator's box of a picture of that size. Medians of %d alternating batches.\n",
      rounds);
  overlay.Hide();
  DestroyWindow(owner);
  return g_failures.empty() ? 0 : 1;
}

}  // namespace
}  // namespace lumora

int main(int argc, char** argv) {
  const lumora::GdiplusSession gdiplus;
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  return lumora::Run(quick);
}
