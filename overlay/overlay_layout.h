#pragma once

// The overlay's geometry and colours as plain functions of the DPI, the work
// area and the measured text, so that they are checked without a desktop.

#include <array>
#include <cstdint>

#include "config/app_config.h"

namespace lumora {

// Every size of the overlay in physical pixels at one DPI.
struct OverlayMetrics {
  std::int32_t shadow_margin = 0;     // transparent border holding the shadow
  std::int32_t horizontal_inset = 0;  // panel edge to indicator, text to panel edge
  std::int32_t vertical_inset = 0;    // panel edge to text, top and bottom
  std::int32_t indicator_size = 0;    // square indicator box; also the least line height
  std::int32_t indicator_gap = 0;     // indicator box to text
  std::int32_t corner_radius = 0;
  std::int32_t font_size = 0;  // em size in pixels
  std::int32_t screen_margin = 0;
  std::int32_t side_reserve = 0;  // taken off the work-area width when limiting the width
  std::int32_t max_panel_width = 0;
  std::int32_t shadow_steps = 0;
  std::int32_t shadow_drop = 0;
  float border_width = 0;
  std::int32_t bar_width = 0;
  std::int32_t bar_gap = 0;
  std::int32_t bar_min_height = 0;
  std::int32_t bar_swing = 0;
  friend bool operator==(const OverlayMetrics&, const OverlayMetrics&) = default;
};

// A DPI of 0 counts as 96.
OverlayMetrics MetricsForDpi(std::uint32_t dpi);

inline constexpr std::uint32_t kOverlayTextColor = 0xFF282828;
inline constexpr std::uint32_t kOverlayOutlineColor = 0xFFE6E6E6;
// Colours as 0xAARRGGBB.
struct OverlayPalette {
  std::uint32_t panel = 0;
  std::uint32_t bars = 0;
  std::uint32_t text = kOverlayTextColor;
  std::uint32_t outline = kOverlayOutlineColor;
  friend bool operator==(const OverlayPalette&, const OverlayPalette&) = default;
};
// Applied over the per-pixel alpha when the window is composed, so that even
// the opaque panel lets a little of the desktop through.
inline constexpr std::uint8_t kOverlayConstantAlpha = 219;

// Values outside the enumeration give white.
OverlayPalette PaletteForTheme(OverlayThemeColor theme);

// With high contrast on, the user's colours instead of any theme (given as
// COLORREF, 0x00BBGGRR, as GetSysColor gives them): the window colour for the
// panel, the window text colour for text and outline, the highlight colour
// for the bars; all opaque.
OverlayPalette HighContrastPalette(std::uint32_t window, std::uint32_t window_text, std::uint32_t highlight);

// A rectangle given by its edges (right and bottom exclusive).
struct ScreenRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;

  std::int32_t width() const { return right - left; }
  std::int32_t height() const { return bottom - top; }
  friend bool operator==(const ScreenRect&, const ScreenRect&) = default;
};

// A rectangle given by its corner and size.
struct BoxI {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  friend bool operator==(const BoxI&, const BoxI&) = default;
};

// The least width the text is ever wrapped at, however narrow the screen.
inline constexpr std::int32_t kMinTextWidth = 40;

// The width at which the text is measured and wrapped.
std::int32_t MaxTextWidth(std::uint32_t dpi, const ScreenRect& work_area);

// The wrapped text's bounding box as measured at MaxTextWidth, and how many
// lines it took.
struct MeasuredText {
  float width = 0;
  float height = 0;
  std::int32_t lines = 0;
};

struct OverlayLayout {
  // The window on the screen, shadow margin included.
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  // The voice indicator's square box inside the window.
  std::int32_t indicator_left = 0;
  std::int32_t indicator_top = 0;
  std::int32_t indicator_size = 0;
  // Where the text goes inside the window: it is wrapped at text_box.width
  // and drawn from text_box.y - text_scroll, so that a text taller than the
  // screen allows shows its last lines; drawing is limited to `clip`.
  BoxI text_box;
  float text_scroll = 0;
  BoxI clip;
  // Lines of the text that are above the box and not shown.
  std::int32_t hidden_lines = 0;
};

// Places the overlay for a text measured at MaxTextWidth(dpi, work_area).
// The window is never taller than the work area less a screen margin above
// and below, as long as one line fits: a taller text keeps its newest lines
// and loses the oldest at the top. Nothing else keeps the window on the
// screen: a work area narrower than the narrowest window lets it stick out.
// Positions outside the enumeration give the centre.
OverlayLayout LayOutOverlay(std::uint32_t dpi, const ScreenRect& work_area, const MeasuredText& text,
                            OverlayPosition position);

// The three bars of the voice indicator at an animation frame.
std::array<BoxI, 3> IndicatorBars(const OverlayMetrics& metrics, const OverlayLayout& layout,
                                  std::uint32_t frame);

// What an animation frame changes: the indicator box and 2 pixels around it,
// within the window.
ScreenRect IndicatorDirtyRect(const OverlayLayout& layout);

}  // namespace lumora
