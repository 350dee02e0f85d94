#include "overlay/overlay_layout.h"

#include <algorithm>
#include <cmath>

#include "overlay/dpi.h"

namespace lumora {

OverlayMetrics MetricsForDpi(std::uint32_t dpi) {
  if (dpi == 0) {
    dpi = kDesignDpi;
  }
  const auto s = [dpi](std::int32_t n) { return ScaleForDpi(n, dpi); };
  OverlayMetrics m;
  m.shadow_margin = s(12);
  m.horizontal_inset = s(28);
  m.vertical_inset = s(24);
  m.indicator_size = s(34);
  m.indicator_gap = s(16);
  m.corner_radius = s(24);
  m.font_size = s(26);
  m.screen_margin = s(28);
  m.side_reserve = s(48);
  m.max_panel_width = s(780);
  m.shadow_steps = s(11);
  m.shadow_drop = s(2);
  m.border_width = std::max(static_cast<float>(s(1)), 1.0f);
  // Bars thinner than 2 pixels vanish into their anti-aliased edges.
  m.bar_width = std::max(s(4), 2);
  m.bar_gap = std::max(s(5), 2);
  m.bar_min_height = s(8);
  m.bar_swing = s(10);
  return m;
}

OverlayPalette PaletteForTheme(OverlayThemeColor theme) {
  switch (theme) {
    case OverlayThemeColor::Pink:
      return {0xFFFFD6E6, 0xC8C85078};
    case OverlayThemeColor::Green:
      return {0xFFD6F2D6, 0xC83C8C50};
    case OverlayThemeColor::Yellow:
      return {0xFFFFF0B8, 0xC8B48C28};
    case OverlayThemeColor::Blue:
      return {0xFFD1E8FF, 0xC8326EB4};
    case OverlayThemeColor::Purple:
      return {0xFFE6D6FF, 0xC87846B4};
    case OverlayThemeColor::White:
      break;
  }
  return {0xFFFFFFFF, 0xC8282828};
}

OverlayPalette HighContrastPalette(std::uint32_t window, std::uint32_t window_text, std::uint32_t highlight) {
  const auto argb = [](std::uint32_t colorref) {
    const std::uint32_t red = colorref & 0xFF;
    const std::uint32_t green = (colorref >> 8) & 0xFF;
    const std::uint32_t blue = (colorref >> 16) & 0xFF;
    return 0xFF000000u | red << 16 | green << 8 | blue;
  };
  return {argb(window), argb(highlight), argb(window_text), argb(window_text)};
}

namespace {

// Everything of the window's width that is not text.
std::int32_t FixedWidth(const OverlayMetrics& m) {
  return 2 * m.shadow_margin + 2 * m.horizontal_inset + m.indicator_size + m.indicator_gap;
}

// Everything of the window's height that is not text.
std::int32_t FixedHeight(const OverlayMetrics& m) { return 2 * m.shadow_margin + 2 * m.vertical_inset; }

std::int32_t CeilToInt(float value) { return value > 0 ? static_cast<std::int32_t>(std::ceil(value)) : 0; }

}  // namespace

std::int32_t MaxTextWidth(std::uint32_t dpi, const ScreenRect& work_area) {
  const OverlayMetrics m = MetricsForDpi(dpi);
  const std::int32_t panel = std::min(work_area.width() - m.side_reserve, m.max_panel_width);
  return std::max(panel - 2 * m.horizontal_inset - m.indicator_size - m.indicator_gap, kMinTextWidth);
}

OverlayLayout LayOutOverlay(std::uint32_t dpi, const ScreenRect& work_area, const MeasuredText& text,
                            OverlayPosition position) {
  const OverlayMetrics m = MetricsForDpi(dpi);
  OverlayLayout layout;

  const std::int32_t text_width = CeilToInt(text.width);
  std::int32_t text_height = CeilToInt(text.height);

  // A text taller than the screen allows keeps as many of its last lines as
  // fit, whole lines only; the lines above are scrolled out of the box. On a
  // work area too low for even one line, that one line is still shown whole.
  const std::int32_t max_text_height = work_area.height() - 2 * m.screen_margin - FixedHeight(m);
  if (text_height > max_text_height && text.lines > 1) {
    const float pitch = text.height / static_cast<float>(text.lines);
    const auto fitting = static_cast<std::int32_t>(std::floor(static_cast<float>(max_text_height) / pitch));
    const std::int32_t shown = std::clamp(fitting, 1, text.lines);
    layout.hidden_lines = text.lines - shown;
    layout.text_scroll = static_cast<float>(layout.hidden_lines) * pitch;
    text_height = CeilToInt(static_cast<float>(shown) * pitch);
    if (fitting >= 1) {
      // Guards against the float product rounding one pixel past the cap.
      text_height = std::min(text_height, max_text_height);
    }
  }

  const std::int32_t line_height = std::max(m.indicator_size, text_height);
  const std::int32_t panel_height = line_height + 2 * m.vertical_inset;
  layout.width = text_width + FixedWidth(m);
  layout.height = panel_height + 2 * m.shadow_margin;

  const std::int32_t margin = m.screen_margin;
  switch (position) {
    case OverlayPosition::TopLeft:
      layout.x = work_area.left + margin;
      layout.y = work_area.top + margin;
      break;
    case OverlayPosition::TopRight:
      layout.x = work_area.right - margin - layout.width;
      layout.y = work_area.top + margin;
      break;
    case OverlayPosition::BottomLeft:
      layout.x = work_area.left + margin;
      layout.y = work_area.bottom - margin - layout.height;
      break;
    case OverlayPosition::BottomRight:
      layout.x = work_area.right - margin - layout.width;
      layout.y = work_area.bottom - margin - layout.height;
      break;
    case OverlayPosition::Center:
    default:
      // Integer division truncates toward zero, also for a window wider than
      // the work area.
      layout.x = work_area.left + (work_area.width() - layout.width) / 2;
      layout.y = work_area.top + (work_area.height() - layout.height) / 2;
      break;
  }

  layout.indicator_left = m.horizontal_inset + m.shadow_margin;
  layout.indicator_size = m.indicator_size;
  layout.indicator_top = (panel_height - m.indicator_size) / 2 + m.shadow_margin;

  const std::int32_t inner_width = layout.width - 2 * m.shadow_margin;
  const std::int32_t inner_height = layout.height - 2 * m.shadow_margin;
  layout.text_box.x = m.shadow_margin + m.horizontal_inset + m.indicator_size + m.indicator_gap;
  layout.text_box.y = m.shadow_margin + m.vertical_inset;
  layout.text_box.width =
      std::max(inner_width - 2 * m.horizontal_inset - m.indicator_size - m.indicator_gap, 1);
  layout.text_box.height = inner_height - 2 * m.vertical_inset;
  layout.clip = {m.shadow_margin, m.shadow_margin, inner_width, inner_height};
  if (layout.hidden_lines > 0) {
    // Lines scrolled out must not show in the inset above the text.
    layout.clip.y = layout.text_box.y;
    layout.clip.height = inner_height - m.vertical_inset;
  }
  return layout;
}

std::array<BoxI, 3> IndicatorBars(const OverlayMetrics& metrics, const OverlayLayout& layout,
                                  std::uint32_t frame) {
  const std::int32_t cx = layout.indicator_left + layout.indicator_size / 2;
  const std::int32_t cy = layout.indicator_top + layout.indicator_size / 2;
  const std::int32_t x0 = cx - (3 * metrics.bar_width + 2 * metrics.bar_gap) / 2;
  const double phase = frame * 0.18;
  std::array<BoxI, 3> bars;
  for (std::int32_t i = 0; i < 3; ++i) {
    const double swing = metrics.bar_swing * (0.5 + 0.5 * std::sin(0.9 * i + phase));
    const std::int32_t h = metrics.bar_min_height + static_cast<std::int32_t>(swing);
    bars[static_cast<std::size_t>(i)] = {x0 + i * (metrics.bar_width + metrics.bar_gap), cy - h / 2,
                                         metrics.bar_width, h};
  }
  return bars;
}

ScreenRect IndicatorDirtyRect(const OverlayLayout& layout) {
  // The 2-pixel border is a fixed allowance for anti-aliasing, not a design size.
  const auto clamp_x = [&](std::int32_t v) { return std::clamp(v, 0, std::max(layout.width, 0)); };
  const auto clamp_y = [&](std::int32_t v) { return std::clamp(v, 0, std::max(layout.height, 0)); };
  return {clamp_x(layout.indicator_left - 2), clamp_y(layout.indicator_top - 2),
          clamp_x(layout.indicator_left + layout.indicator_size + 2),
          clamp_y(layout.indicator_top + layout.indicator_size + 2)};
}

}  // namespace lumora
