#include "overlay/panel_frame_win.h"

#include <algorithm>
#include <cstring>

#include "base/scoped_win.h"
#include "overlay/overlay_text_win.h"

namespace lumora {

namespace {

// Four arcs of diameter 2r, clockwise from the top-left corner.
void AddRoundedRect(Gdiplus::GraphicsPath& path, float x, float y, float w, float h, float r) {
  const float d = 2 * r;
  path.AddArc(x, y, d, d, 180, 90);
  path.AddArc(x + w - d, y, d, d, 270, 90);
  path.AddArc(x + w - d, y + h - d, d, d, 0, 90);
  path.AddArc(x, y + h - d, d, d, 90, 90);
  path.CloseFigure();
}

}  // namespace

void DrawPanelFrame(Gdiplus::Graphics& graphics, std::int32_t width, std::int32_t height,
                    const OverlayMetrics& m, const OverlayPalette& palette) {
  const float left = static_cast<float>(m.shadow_margin) + 0.5f;
  const float top = left;
  const auto panel_width = static_cast<float>(width - 2 * m.shadow_margin - 1);
  const auto panel_height = static_cast<float>(height - 2 * m.shadow_margin - 1);
  const auto radius = static_cast<float>(m.corner_radius);

  // Rings of faint black, each larger than the last and overlapping, so the
  // shadow darkens toward the panel; it drops a little below it.
  for (std::int32_t i = m.shadow_steps; i >= 1; --i) {
    const auto grow = static_cast<float>(i);
    Gdiplus::GraphicsPath ring;
    AddRoundedRect(ring, left - grow, top - grow + static_cast<float>(m.shadow_drop), panel_width + 2 * grow,
                   panel_height + 2 * grow, radius + grow);
    const Gdiplus::SolidBrush shade(Gdiplus::Color(static_cast<BYTE>((m.shadow_steps - i) / 2 + 1), 0, 0, 0));
    graphics.FillPath(&shade, &ring);
  }

  // Copied, not blended, so the panel is exactly its colour over the shadow.
  Gdiplus::GraphicsPath panel;
  AddRoundedRect(panel, left, top, panel_width, panel_height, radius);
  graphics.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
  const Gdiplus::SolidBrush fill{Gdiplus::Color(palette.panel)};
  graphics.FillPath(&fill, &panel);
  graphics.SetCompositingMode(Gdiplus::CompositingModeSourceOver);
  const Gdiplus::Pen outline(Gdiplus::Color(palette.outline), m.border_width);
  graphics.DrawPath(&outline, &panel);
}

bool DrawPanelFramePixels(std::uint32_t* pixels, std::int32_t width, std::int32_t height,
                          const OverlayMetrics& metrics, const OverlayPalette& palette) {
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  const ScopedGetDC screen(nullptr);
  ScopedMemoryDC memory(CreateCompatibleDC(screen.get()));
  void* bits = nullptr;
  ScopedGdiObject<HBITMAP> dib(CreateArgbSurface(screen.get(), width, height, &bits));
  ScopedSelectObject selection;
  if (memory.get() == nullptr || bits == nullptr || !selection.Select(memory.get(), dib.get())) {
    std::fill_n(pixels, count, 0u);
    return false;
  }
  std::memset(bits, 0, count * 4);
  {
    Gdiplus::Graphics graphics(memory.get());
    graphics.SetPageUnit(Gdiplus::UnitPixel);
    graphics.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    graphics.SetCompositingMode(Gdiplus::CompositingModeSourceOver);
    DrawPanelFrame(graphics, width, height, metrics, palette);
  }
  GdiFlush();
  std::memcpy(pixels, bits, count * 4);
  return true;
}

bool PanelFrame::Prepare(std::uint32_t dpi, const OverlayPalette& palette) {
  if (!pixels_.empty() && dpi == dpi_ && palette == palette_) {
    return true;
  }
  const OverlayMetrics m = MetricsForDpi(dpi);
  // The corners' curves (the widest shadow ring's included) end within the
  // margin and the radius from each edge; the rest is a pixel or two of
  // anti-aliasing, the outline and the shadow's drop.
  corner_width_ = m.shadow_margin + m.corner_radius + 4 + static_cast<std::int32_t>(m.border_width);
  corner_height_ = corner_width_ + m.shadow_drop;
  width_ = 2 * corner_width_ + 1;
  height_ = 2 * corner_height_ + 1;
  pixels_.assign(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_), 0);
  if (!DrawPanelFramePixels(pixels_.data(), width_, height_, m, palette)) {
    pixels_.clear();
    return false;
  }
  dpi_ = dpi;
  palette_ = palette;
  return true;
}

bool PanelFrame::Paint(std::uint32_t* pixels, std::int32_t width, std::int32_t height, std::uint32_t dpi,
                       const OverlayPalette& palette) {
  if (!Prepare(dpi, palette)) {
    std::fill_n(pixels, static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0u);
    return false;
  }
  if (width < width_ || height < height_) {
    return DrawPanelFramePixels(pixels, width, height, MetricsForDpi(dpi), palette);
  }
  const std::int32_t right = width_ - corner_width_;
  for (std::int32_t y = 0; y < height; ++y) {
    std::int32_t source_y = corner_height_;
    if (y < corner_height_) {
      source_y = y;
    } else if (y >= height - corner_height_) {
      source_y = y - (height - height_);
    }
    const std::uint32_t* source = pixels_.data() + static_cast<std::size_t>(source_y) * width_;
    std::uint32_t* row = pixels + static_cast<std::size_t>(y) * width;
    std::copy_n(source, corner_width_, row);
    std::fill(row + corner_width_, row + width - corner_width_, source[corner_width_]);
    std::copy_n(source + right, corner_width_, row + width - corner_width_);
  }
  return true;
}

}  // namespace lumora
