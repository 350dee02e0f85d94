#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/scoped_win.h"
#include "base/window_proc_win.h"
#include "config/app_config.h"
#include "overlay/dpi.h"
#include "overlay/live_text_view.h"
#include "overlay/overlay_layout.h"

namespace Gdiplus {
class Font;
}

namespace lumora {

class PanelFrame;

inline constexpr UINT_PTR kOverlayTimerId = 60;
inline constexpr UINT kOverlayTimerMs = 33;
// Text that has not changed for this long is taken off the screen: a phone
// that vanished mid-utterance must not leave a topmost window behind. The
// text itself stays with the coordinator, so a later commit still types it.
inline constexpr UINT_PTR kOverlayStaleTimerId = 62;
inline constexpr UINT kOverlayStaleMs = 30000;
inline constexpr const wchar_t* kOverlayClassName = L"Lumora.LiveTextOverlay";

// The floating window that shows the text being dictated: topmost, never
// activated, transparent to the mouse, drawn as one per-pixel-alpha picture
// with an animated voice indicator. UI thread only.
class LiveTextOverlay final : public LiveTextView, public WindowOwner<LiveTextOverlay> {
 public:
  // `owner` is the host's hidden window: the overlay's owner, and the window
  // whose monitor and DPI the overlay follows.
  LiveTextOverlay(HINSTANCE instance, HWND owner);
  ~LiveTextOverlay() override;
  LiveTextOverlay(const LiveTextOverlay&) = delete;
  LiveTextOverlay& operator=(const LiveTextOverlay&) = delete;

  // Creates the window if there is none; it stays hidden.
  void EnsureWindow();
  void ShowText(const std::string& text) override;
  void Hide() override;
  // Stored while hidden and used at the next ShowText; redrawn at once while shown.
  void SetThemeColor(OverlayThemeColor theme);
  void SetPosition(OverlayPosition position);

  bool visible() const { return visible_; }
  const std::wstring& text() const { return text_; }
  std::uint32_t dpi() const { return dpi_; }
  std::uint32_t frame() const { return frame_; }
  // The window rectangle, text box and indicator box of the last layout;
  // width and height 0 while hidden.
  const OverlayLayout& layout() const { return layout_; }

  // The picture last handed to the window: premultiplied BGRA, top-down rows
  // of layout().width pixels; empty while there is none.
  std::vector<std::uint8_t> SurfaceCopy() const;

  // Replaces WindowDpi for this overlay's DPI queries, so that a change of the
  // display scale can be played where the real one cannot be changed.
  using DpiQuery = std::uint32_t (*)(HWND);
  void SetDpiQueryForTest(DpiQuery query) { dpi_query_ = query; }
  void SetStaleTimeoutForTest(UINT milliseconds) { stale_ms_ = milliseconds; }

 private:
  friend class WindowOwner<LiveTextOverlay>;
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);

  // The window whose DPI and monitor the overlay follows.
  HWND ReferenceWindow() const { return owner_ != nullptr ? owner_ : window(); }
  void LayoutAndRender();
  // The theme's colours, or the user's when high contrast is on.
  OverlayPalette CurrentPalette() const;
  // Draws with the font the layout measured with.
  void RenderFull(const Gdiplus::Font* font);
  void RenderAnimationFrame();
  void DrawIndicator();
  void Present(const RECT* dirty);
  bool EnsureSurface();
  void ReleaseSurface();

  HINSTANCE instance_;
  HWND owner_;
  bool visible_ = false;
  std::wstring text_;
  OverlayThemeColor theme_ = OverlayThemeColor::White;
  OverlayPalette palette_ = PaletteForTheme(OverlayThemeColor::White);  // the theme's, or high contrast's
  OverlayPosition position_ = OverlayPosition::Center;
  std::uint32_t dpi_ = kDesignDpi;
  // Only ever incremented (wrapping after years of animation), so that the
  // indicator continues from its phase when the overlay reappears.
  std::uint32_t frame_ = 0;
  OverlayLayout layout_;
  DpiQuery dpi_query_;
  UINT stale_ms_ = kOverlayStaleMs;
  // The shadowed panel, drawn once per DPI and theme.
  std::unique_ptr<PanelFrame> panel_;

  // The drawing surface: a top-down 32-bit DIB selected into a memory DC.
  // Declared in this order so that the bitmap is deselected before it is
  // deleted, and deleted before its DC.
  ScopedMemoryDC memory_dc_;
  ScopedGdiObject<HBITMAP> dib_;
  ScopedSelectObject previous_bitmap_;
  std::uint8_t* pixels_ = nullptr;
  std::int32_t surface_width_ = 0;
  std::int32_t surface_height_ = 0;
  // The full picture without the voice indicator, for the animation frames.
  std::vector<std::uint8_t> background_cache_;
};

}  // namespace lumora
