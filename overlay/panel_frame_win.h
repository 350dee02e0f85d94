#pragma once

// The overlay's panel: a rounded rectangle in the theme's colour with a soft
// shadow and an outline, on a transparent surface.

#include <windows.h>

#include <objidl.h>

#include <gdiplus.h>

#include <cstdint>
#include <vector>

#include "config/app_config.h"
#include "overlay/overlay_layout.h"

namespace lumora {

// Draws the panel of a window of `width` x `height` with GDI+ onto a cleared
// surface: the shadow's rings, then the panel copied over them, then its
// outline.
void DrawPanelFrame(Gdiplus::Graphics& graphics, std::int32_t width, std::int32_t height,
                    const OverlayMetrics& metrics, const OverlayPalette& palette);

// Paints the panel at any size for the cost of a copy. Anti-aliased shadow
// rings over the whole window cost tens of milliseconds in Wine's GDI+ on
// every text update, yet along its straight edges every row and column of
// the picture is the same: so it is drawn once per DPI and theme at the
// smallest size that holds both corners, and stretched by repeating its
// middle row and column.
class PanelFrame {
 public:
  // Fills `pixels` (premultiplied BGRA, top-down rows of `width`) with the
  // panel. False when no drawing surface could be made; the pixels are then
  // cleared.
  bool Paint(std::uint32_t* pixels, std::int32_t width, std::int32_t height, std::uint32_t dpi,
             const OverlayPalette& palette);
  bool Paint(std::uint32_t* pixels, std::int32_t width, std::int32_t height, std::uint32_t dpi,
             OverlayThemeColor theme) {
    return Paint(pixels, width, height, dpi, PaletteForTheme(theme));
  }

  // Columns and rows at each edge taken as they were drawn: the corners.
  std::int32_t corner_width() const { return corner_width_; }
  std::int32_t corner_height() const { return corner_height_; }

 private:
  bool Prepare(std::uint32_t dpi, const OverlayPalette& palette);

  std::uint32_t dpi_ = 0;
  OverlayPalette palette_;
  std::int32_t corner_width_ = 0;
  std::int32_t corner_height_ = 0;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  std::vector<std::uint32_t> pixels_;
};

// Draws with GDI+ onto `pixels` through a memory DC, as the overlay's surface
// is drawn; for the panel template and for tests.
bool DrawPanelFramePixels(std::uint32_t* pixels, std::int32_t width, std::int32_t height,
                          const OverlayMetrics& metrics, const OverlayPalette& palette);

}  // namespace lumora
