#include "overlay/live_text_overlay_win.h"

#include <objidl.h>

#include <gdiplus.h>

#include <cstring>

#include "base/win32_util_win.h"
#include "overlay/dpi_win.h"
#include "overlay/overlay_text_win.h"
#include "overlay/panel_frame_win.h"

namespace lumora {

namespace {

constexpr DWORD kOverlayExStyle =
    WS_EX_TOPMOST | WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW | WS_EX_LAYERED | WS_EX_NOACTIVATE;

void PrepareGraphics(Gdiplus::Graphics& graphics) {
  graphics.SetPageUnit(Gdiplus::UnitPixel);
  graphics.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
  graphics.SetCompositingMode(Gdiplus::CompositingModeSourceOver);
}

ScreenRect WorkAreaOf(HWND window) {
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  HMONITOR monitor = MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY);
  RECT rect{};
  if (monitor != nullptr && GetMonitorInfoW(monitor, &info)) {
    rect = info.rcWork;
  } else {
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &rect, 0);
  }
  return {rect.left, rect.top, rect.right, rect.bottom};
}

}  // namespace

LiveTextOverlay::LiveTextOverlay(HINSTANCE instance, HWND owner)
    : instance_(instance), owner_(owner), dpi_query_(WindowDpi), panel_(std::make_unique<PanelFrame>()) {
  EnsureWindow();
}

LiveTextOverlay::~LiveTextOverlay() {
  if (window() != nullptr) {
    KillTimer(window(), kOverlayTimerId);
  }
  ReleaseSurface();
  if (window() != nullptr) {
    DestroyWindow(window());
  }
}

void LiveTextOverlay::EnsureWindow() {
  if (window() != nullptr) {
    return;
  }
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = &LiveTextOverlay::WindowProc;
  window_class.hInstance = instance_;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.lpszClassName = kOverlayClassName;
  // Fails once the class exists, which is as good.
  RegisterClassW(&window_class);
  CreateWindowExW(kOverlayExStyle, kOverlayClassName, L"", WS_POPUP, 0, 0, 1, 1, owner_, nullptr, instance_,
                  this);
  if (window() != nullptr) {
    dpi_ = dpi_query_(ReferenceWindow());
  }
}

void LiveTextOverlay::ShowText(const std::string& text) {
  EnsureWindow();
  text_ = Utf8ToWide(text);
  if (text_.empty()) {
    Hide();
    return;
  }
  visible_ = true;
  LayoutAndRender();
  if (window() != nullptr) {
    SetTimer(window(), kOverlayTimerId, kOverlayTimerMs, nullptr);
    SetTimer(window(), kOverlayStaleTimerId, stale_ms_, nullptr);  // restarts it
    ShowWindow(window(), SW_SHOWNOACTIVATE);
  }
}

void LiveTextOverlay::Hide() {
  if (window() != nullptr) {
    KillTimer(window(), kOverlayTimerId);
    KillTimer(window(), kOverlayStaleTimerId);
  }
  visible_ = false;
  text_.clear();
  if (window() != nullptr) {
    ShowWindow(window(), SW_HIDE);
  }
  ReleaseSurface();
  layout_.width = 0;
  layout_.height = 0;
}

void LiveTextOverlay::SetThemeColor(OverlayThemeColor theme) {
  if (theme == theme_) {
    return;
  }
  theme_ = theme;
  if (visible_) {
    LayoutAndRender();
  }
}

void LiveTextOverlay::SetPosition(OverlayPosition position) {
  if (position == position_) {
    return;
  }
  position_ = position;
  if (visible_) {
    LayoutAndRender();
  }
}

// Destroying the owner destroys this window with it (the host's window goes
// before the overlay object at exit); WindowOwner forgets the handle then.
LRESULT LiveTextOverlay::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_ERASEBKGND:
      return 1;
    case WM_TIMER:
      if (wparam == kOverlayTimerId && visible_) {
        ++frame_;
        RenderAnimationFrame();
      } else if (wparam == kOverlayStaleTimerId) {
        Hide();
      }
      return 0;
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:
      // High contrast turned on or off, or its colours changed.
      if (visible_) {
        LayoutAndRender();
      }
      return 0;
    case WM_DPICHANGED: {
      // The suggested rectangle is not used: the placement follows from the
      // work area at the new DPI.
      const UINT dpi = HIWORD(wparam);
      dpi_ = dpi != 0 ? dpi : kDesignDpi;
      ReleaseSurface();
      if (visible_) {
        LayoutAndRender();
      }
      return 0;
    }
    default:
      return DefaultHandling(message, wparam, lparam);
  }
}

std::vector<std::uint8_t> LiveTextOverlay::SurfaceCopy() const {
  if (pixels_ == nullptr) {
    return {};
  }
  GdiFlush();
  return std::vector<std::uint8_t>(pixels_, pixels_ + static_cast<std::size_t>(surface_width_) *
                                                          static_cast<std::size_t>(surface_height_) * 4);
}

void LiveTextOverlay::LayoutAndRender() {
  // On the monitor of the window the user works in, at its DPI; the owner's
  // (the primary monitor) when nothing is in front.
  HWND front = GetForegroundWindow();
  const HWND reference = front != nullptr && front != window() ? front : ReferenceWindow();
  dpi_ = dpi_query_(reference);
  const ScreenRect work_area = WorkAreaOf(reference);
  palette_ = CurrentPalette();
  const OverlayMetrics metrics = MetricsForDpi(dpi_);
  const auto font = CreateOverlayFont(static_cast<float>(metrics.font_size));
  const MeasuredText measured = MeasureOverlayText(font.get(), text_, MaxTextWidth(dpi_, work_area));
  layout_ = LayOutOverlay(dpi_, work_area, measured, position_);
  RenderFull(font.get());
}

OverlayPalette LiveTextOverlay::CurrentPalette() const {
  HIGHCONTRASTW contrast{};
  contrast.cbSize = sizeof contrast;
  if (SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
      (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0) {
    return HighContrastPalette(GetSysColor(COLOR_WINDOW), GetSysColor(COLOR_WINDOWTEXT),
                               GetSysColor(COLOR_HIGHLIGHT));
  }
  return PaletteForTheme(theme_);
}

void LiveTextOverlay::RenderFull(const Gdiplus::Font* font) {
  const std::int32_t width = layout_.width;
  const std::int32_t height = layout_.height;
  if (width < 1 || height < 1 || !EnsureSurface()) {
    return;
  }
  const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;

  // Shadow, panel and outline; every pixel of the surface is written.
  panel_->Paint(reinterpret_cast<std::uint32_t*>(pixels_), width, height, dpi_, palette_);
  if (font != nullptr) {
    Gdiplus::Graphics graphics(memory_dc_.get());
    PrepareGraphics(graphics);
    graphics.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAliasGridFit);
    const BoxI& box = layout_.text_box;
    const Gdiplus::RectF text_rect(static_cast<float>(box.x), static_cast<float>(box.y) - layout_.text_scroll,
                                   static_cast<float>(box.width),
                                   static_cast<float>(box.height) + layout_.text_scroll);
    const auto format = OverlayStringFormat();
    const Gdiplus::SolidBrush ink{Gdiplus::Color(palette_.text)};
    graphics.SetClip(Gdiplus::Rect(layout_.clip.x, layout_.clip.y, layout_.clip.width, layout_.clip.height));
    graphics.DrawString(text_.c_str(), static_cast<INT>(text_.size()), font, text_rect, format.get(), &ink);
  }
  // GDI batches its drawing; the pixels are read directly next.
  GdiFlush();
  background_cache_.assign(pixels_, pixels_ + bytes);
  DrawIndicator();
  Present(nullptr);
}

void LiveTextOverlay::RenderAnimationFrame() {
  const std::int32_t width = layout_.width;
  const std::int32_t height = layout_.height;
  if (pixels_ == nullptr || width <= 0 || height <= 0) {
    return;
  }
  const std::size_t row_bytes = static_cast<std::size_t>(width) * 4;
  if (surface_width_ != width || surface_height_ != height ||
      background_cache_.size() != row_bytes * static_cast<std::size_t>(height)) {
    LayoutAndRender();
    return;
  }
  // Only the indicator's box changes from frame to frame, so only it is
  // restored from the cached picture: a frame then costs the same for a
  // one-word and a full-screen text.
  const ScreenRect dirty = IndicatorDirtyRect(layout_);
  const auto dirty_bytes = static_cast<std::size_t>(dirty.width()) * 4;
  for (std::int32_t y = dirty.top; y < dirty.bottom; ++y) {
    const std::size_t offset =
        static_cast<std::size_t>(y) * row_bytes + static_cast<std::size_t>(dirty.left) * 4;
    std::memcpy(pixels_ + offset, background_cache_.data() + offset, dirty_bytes);
  }
  DrawIndicator();
  const RECT dirty_rect{dirty.left, dirty.top, dirty.right, dirty.bottom};
  Present(&dirty_rect);
}

void LiveTextOverlay::DrawIndicator() {
  Gdiplus::Graphics graphics(memory_dc_.get());
  PrepareGraphics(graphics);
  const Gdiplus::SolidBrush brush{Gdiplus::Color(palette_.bars)};
  for (const BoxI& bar : IndicatorBars(MetricsForDpi(dpi_), layout_, frame_)) {
    graphics.FillRectangle(&brush, bar.x, bar.y, bar.width, bar.height);
  }
}

void LiveTextOverlay::Present(const RECT* dirty) {
  if (window() == nullptr || memory_dc_.get() == nullptr || layout_.width <= 0 || layout_.height <= 0) {
    return;
  }
  const ScopedGetDC screen(nullptr);
  POINT destination{layout_.x, layout_.y};
  SIZE size{layout_.width, layout_.height};
  POINT source{0, 0};
  BLENDFUNCTION blend{AC_SRC_OVER, 0, kOverlayConstantAlpha, AC_SRC_ALPHA};
  UPDATELAYEREDWINDOWINFO info{};
  info.cbSize = sizeof(info);
  info.hdcDst = screen.get();
  info.pptDst = &destination;
  info.psize = &size;
  info.hdcSrc = memory_dc_.get();
  info.pptSrc = &source;
  info.crKey = 0;
  info.pblend = &blend;
  info.dwFlags = ULW_ALPHA;
  info.prcDirty = dirty;
  UpdateLayeredWindowIndirect(window(), &info);
}

bool LiveTextOverlay::EnsureSurface() {
  const std::int32_t width = layout_.width;
  const std::int32_t height = layout_.height;
  if (pixels_ != nullptr && surface_width_ == width && surface_height_ == height) {
    return true;
  }
  ReleaseSurface();
  void* bits = nullptr;
  {
    const ScopedGetDC screen(nullptr);
    memory_dc_.Reset(CreateCompatibleDC(screen.get()));
    dib_.Reset(CreateArgbSurface(screen.get(), width, height, &bits));
  }
  if (memory_dc_.get() == nullptr || dib_.get() == nullptr || bits == nullptr ||
      !previous_bitmap_.Select(memory_dc_.get(), dib_.get())) {
    ReleaseSurface();
    return false;
  }
  pixels_ = static_cast<std::uint8_t*>(bits);
  surface_width_ = width;
  surface_height_ = height;
  return true;
}

void LiveTextOverlay::ReleaseSurface() {
  previous_bitmap_.Restore();
  dib_.Reset();
  memory_dc_.Reset();
  pixels_ = nullptr;
  surface_width_ = 0;
  surface_height_ = 0;
  background_cache_.clear();
}

}  // namespace lumora
