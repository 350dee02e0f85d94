#include "overlay/overlay_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>

#include "overlay/dpi.h"

namespace lumora {

void PrintTo(const BoxI& box, std::ostream* out) {
  *out << "{" << box.x << ", " << box.y << ", " << box.width << ", " << box.height << "}";
}
void PrintTo(const ScreenRect& rect, std::ostream* out) {
  *out << "{" << rect.left << ", " << rect.top << ", " << rect.right << ", " << rect.bottom << "}";
}

namespace {

std::string Describe(const OverlayLayout& l) {
  return "window " + std::to_string(l.x) + "," + std::to_string(l.y) + " " + std::to_string(l.width) + "x" +
         std::to_string(l.height) + ", indicator " + std::to_string(l.indicator_left) + "," +
         std::to_string(l.indicator_top) + " size " + std::to_string(l.indicator_size) + ", text " +
         std::to_string(l.text_box.x) + "," + std::to_string(l.text_box.y) + " " +
         std::to_string(l.text_box.width) + "x" + std::to_string(l.text_box.height) + ", hidden " +
         std::to_string(l.hidden_lines);
}

TEST(OverlayLayoutTest, ScaleRoundsAsMulDiv) {
  struct Case {
    std::int32_t n;
    std::uint32_t dpi;
    std::int32_t want;
  };
  const Case cases[] = {
      {12, 96, 12},
      {12, 144, 18},
      {11, 144, 17},  // 16.5: halves away from zero
      {5, 144, 8},
      {1, 120, 1},
      {2, 120, 3},
      {5, 120, 6},
      {34, 120, 43},
      {1, 48, 1},
      {1, 47, 0},
      {0, 144, 0},
      {-1, 144, -2},
      {-5, 120, -6},
      {28, 0, 0},
      {780, 192, 1560},
      {INT32_MAX, 96, INT32_MAX},
      {INT32_MAX, 97, -1},  // does not fit: MulDiv's -1
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ScaleForDpi(c.n, c.dpi), c.want) << c.n << " at " << c.dpi;
  }
}

TEST(OverlayLayoutTest, MetricsPerDpi) {
  struct Case {
    std::uint32_t dpi;
    OverlayMetrics want;
  };
  const Case cases[] = {
      {96, {12, 28, 24, 34, 16, 24, 26, 28, 48, 780, 11, 2, 1.0f, 4, 5, 8, 10}},
      {0, {12, 28, 24, 34, 16, 24, 26, 28, 48, 780, 11, 2, 1.0f, 4, 5, 8, 10}},  // no DPI: 96
      {144, {18, 42, 36, 51, 24, 36, 39, 42, 72, 1170, 17, 3, 2.0f, 6, 8, 12, 15}},
      {120, {15, 35, 30, 43, 20, 30, 33, 35, 60, 975, 14, 3, 1.0f, 5, 6, 10, 13}},
      {192, {24, 56, 48, 68, 32, 48, 52, 56, 96, 1560, 22, 4, 2.0f, 8, 10, 16, 20}},
      // Below 96 DPI the bars keep 2 pixels and the outline 1.
      {24, {3, 7, 6, 9, 4, 6, 7, 7, 12, 195, 3, 1, 1.0f, 2, 2, 2, 3}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MetricsForDpi(c.dpi), c.want) << c.dpi;
  }
}

TEST(OverlayLayoutTest, ThemePalettes) {
  struct Case {
    std::int32_t theme;
    OverlayPalette want;
  };
  const Case cases[] = {
      {0, {0xFFFFFFFF, 0xC8282828}},  {1, {0xFFFFD6E6, 0xC8C85078}}, {2, {0xFFD6F2D6, 0xC83C8C50}},
      {3, {0xFFFFF0B8, 0xC8B48C28}},  {4, {0xFFD1E8FF, 0xC8326EB4}}, {5, {0xFFE6D6FF, 0xC87846B4}},
      {-1, {0xFFFFFFFF, 0xC8282828}}, {6, {0xFFFFFFFF, 0xC8282828}}, {1000, {0xFFFFFFFF, 0xC8282828}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PaletteForTheme(static_cast<OverlayThemeColor>(c.theme)), c.want) << c.theme;
  }
  // High contrast: the system's colours (COLORREF, blue in the high byte),
  // opaque; text and outline in the window text colour. White on black with
  // a cyan highlight, and the reverse.
  EXPECT_EQ(HighContrastPalette(0x000000, 0xFFFFFF, 0xFFFF00),
            (OverlayPalette{0xFF000000, 0xFF00FFFF, 0xFFFFFFFF, 0xFFFFFFFF}));
  EXPECT_EQ(HighContrastPalette(0xFFFFFF, 0x000000, 0x0000FF),
            (OverlayPalette{0xFFFFFFFF, 0xFFFF0000, 0xFF000000, 0xFF000000}));
}

TEST(OverlayLayoutTest, MaxTextWidth) {
  struct Case {
    std::uint32_t dpi;
    std::int32_t work_width;
    std::int32_t want;
  };
  const Case cases[] = {
      {96, 1920, 674},  // capped by the panel width 780
      {96, 828, 674},   // 780 + 48: the two limits meet
      {96, 827, 673},   // below that, the work area limits
      {96, 500, 346},    {96, 147, 40},   {96, 100, 40},  {96, 0, 40}, {96, -50, 40},  // never below 40
      {144, 1920, 1011}, {144, 800, 569}, {144, 150, 40},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MaxTextWidth(c.dpi, {0, 0, c.work_width, 600}), c.want) << c.dpi << " " << c.work_width;
  }
}

TEST(OverlayLayoutTest, OneLineAt96Dpi) {
  struct Case {
    MeasuredText text;
    std::int32_t want_width;
    std::int32_t want_height;
  };
  const Case cases[] = {
      {{300.0f, 30.0f, 1}, 430, 106},  // W + 130; 24 + 48 + 34
      {{300.2f, 30.5f, 1}, 431, 106},  // measured sizes rounded up
      {{12.0f, 34.0f, 1}, 142, 106},   // exactly the indicator's height
      {{300.0f, 40.0f, 1}, 430, 112},  // a taller line sets the height
      {{674.0f, 90.0f, 3}, 804, 162},  // three wrapped lines: the widest window, 780 + 24
      {{0.0f, 0.0f, 0}, 130, 106},     // no font: an empty panel with its indicator
  };
  for (const Case& c : cases) {
    const OverlayLayout l = LayOutOverlay(96, {0, 0, 1920, 1040}, c.text, OverlayPosition::Center);
    EXPECT_EQ(l.width, c.want_width) << Describe(l);
    EXPECT_EQ(l.height, c.want_height) << Describe(l);
    EXPECT_EQ(l.indicator_left, 40);
    EXPECT_EQ(l.indicator_size, 34);
    EXPECT_EQ(l.indicator_top, (l.height - 24 - 34) / 2 + 12) << "centred on the panel";
    EXPECT_EQ(l.text_box, (BoxI{90, 36, std::max(c.want_width - 130, 1), c.want_height - 72})) << Describe(l);
    EXPECT_EQ(l.clip, (BoxI{12, 12, c.want_width - 24, c.want_height - 24}));
    EXPECT_EQ(l.hidden_lines, 0);
    EXPECT_EQ(l.text_scroll, 0.0f);
  }
}

TEST(OverlayLayoutTest, At144DpiEverySizeIsOneAndAHalfTimes) {
  // Chosen so that every centring halves an even number at both DPIs.
  const ScreenRect work{0, 0, 1910, 1042};
  const ScreenRect work_144{0, 0, 2865, 1563};
  for (std::int32_t p = 0; p < kOverlayPositionCount; ++p) {
    const auto position = static_cast<OverlayPosition>(p);
    const OverlayLayout a = LayOutOverlay(96, work, {300.0f, 30.0f, 1}, position);
    const OverlayLayout b = LayOutOverlay(144, work_144, {450.0f, 45.0f, 1}, position);
    const std::string where = "position " + std::to_string(p) + ": " + Describe(a) + " / " + Describe(b);
    EXPECT_EQ(b.width, 645) << where;
    EXPECT_EQ(b.height, 159) << where;
    EXPECT_EQ(b.width * 2, a.width * 3) << where;
    EXPECT_EQ(b.height * 2, a.height * 3) << where;
    EXPECT_EQ(b.x * 2, a.x * 3) << where;
    EXPECT_EQ(b.y * 2, a.y * 3) << where;
    EXPECT_EQ(b.indicator_left * 2, a.indicator_left * 3) << where;
    EXPECT_EQ(b.indicator_top * 2, a.indicator_top * 3) << where;
    EXPECT_EQ(b.indicator_size * 2, a.indicator_size * 3) << where;
    EXPECT_EQ(b.text_box.x * 2, a.text_box.x * 3) << where;
    EXPECT_EQ(b.text_box.y * 2, a.text_box.y * 3) << where;
    EXPECT_EQ(b.text_box.width * 2, a.text_box.width * 3) << where;
    EXPECT_EQ(b.text_box.height * 2, a.text_box.height * 3) << where;
  }
}

TEST(OverlayLayoutTest, Positions) {
  // A work area that does not start at the screen's origin, as with a
  // taskbar at the top or left.
  const ScreenRect work{100, 50, 1380, 850};
  struct Case {
    std::int32_t position;
    std::int32_t want_x;
    std::int32_t want_y;
  };
  const Case cases[] = {
      {0, 525, 397},  // centre: 100 + (1280 - 430) / 2, 50 + (800 - 106) / 2
      {1, 128, 78},   {2, 922, 78},  {3, 128, 716},  {4, 922, 716},
      {-1, 525, 397}, {5, 525, 397}, {42, 525, 397},  // out of range: centre
  };
  for (const Case& c : cases) {
    const OverlayLayout l =
        LayOutOverlay(96, work, {300.0f, 30.0f, 1}, static_cast<OverlayPosition>(c.position));
    EXPECT_EQ(l.x, c.want_x) << c.position;
    EXPECT_EQ(l.y, c.want_y) << c.position;
    EXPECT_EQ(l.width, 430);
    EXPECT_EQ(l.height, 106);
  }
}

TEST(OverlayLayoutTest, MoreLinesGrowAwayFromTheAnchoredEdge) {
  const ScreenRect work{0, 0, 1920, 1040};
  const MeasuredText one{600.0f, 30.0f, 1};
  const MeasuredText four{674.0f, 120.0f, 4};
  for (std::int32_t p = 0; p < kOverlayPositionCount; ++p) {
    const auto position = static_cast<OverlayPosition>(p);
    const OverlayLayout a = LayOutOverlay(96, work, one, position);
    const OverlayLayout b = LayOutOverlay(96, work, four, position);
    EXPECT_EQ(b.height - a.height, 120 - 34) << p;
    EXPECT_EQ(b.hidden_lines, 0) << "nothing is cut while it fits";
    switch (position) {
      case OverlayPosition::TopLeft:
      case OverlayPosition::TopRight:
        EXPECT_EQ(b.y, a.y) << "grows downward";
        break;
      case OverlayPosition::BottomLeft:
      case OverlayPosition::BottomRight:
        EXPECT_EQ(b.y + b.height, a.y + a.height) << "grows upward";
        break;
      case OverlayPosition::Center:
        EXPECT_EQ(b.y + b.height / 2, a.y + a.height / 2) << "grows around its centre";
        break;
    }
  }
}

TEST(OverlayLayoutTest, NarrowWorkArea) {
  struct Case {
    ScreenRect work;
    MeasuredText text;
    std::int32_t position;
    std::int32_t want_x;
    std::int32_t want_width;
  };
  const Case cases[] = {
      // The text is wrapped at 500 - 48 - 106 = 346 pixels.
      {{0, 0, 500, 800}, {346.0f, 120.0f, 4}, 0, 12, 476},
      // At the 40-pixel floor the window is wider than the work area; the
      // centre halves truncate toward zero (-21 / 2 = -10) and the corner
      // positions keep their margin from their own edge.
      {{0, 0, 150, 800}, {40.5f, 300.0f, 10}, 0, -10, 171},
      {{0, 0, 150, 800}, {40.0f, 300.0f, 10}, 2, 150 - 28 - 170, 170},
      {{0, 0, 150, 800}, {40.0f, 300.0f, 10}, 3, 28, 170},
  };
  for (const Case& c : cases) {
    const OverlayLayout l = LayOutOverlay(96, c.work, c.text, static_cast<OverlayPosition>(c.position));
    EXPECT_EQ(l.x, c.want_x) << Describe(l);
    EXPECT_EQ(l.width, c.want_width) << Describe(l);
  }
}

TEST(OverlayLayoutTest, HeightCapKeepsTheNewestLines) {
  struct Case {
    const char* name;
    std::uint32_t dpi;
    std::int32_t work_height;
    MeasuredText text;
    std::int32_t want_height;
    std::int32_t want_hidden;
    float want_scroll;
  };
  const Case cases[] = {
      // 800 - 2 * 28 = 744 for the window, 744 - 72 = 672 for text: 22 of 40 lines.
      {"long text", 96, 800, {674.0f, 1200.0f, 40}, 732, 18, 540.0f},
      {"exactly fits", 96, 800, {674.0f, 672.0f, 21}, 744, 0, 0.0f},
      {"a pixel too tall", 96, 800, {674.0f, 673.0f, 2}, 337 + 72, 1, 336.5f},
      {"fractional line pitch", 96, 300, {674.0f, 234.5f, 7}, 168 + 72, 2, 67.0f},
      // 800 - 84 = 716, less 108: 608 for text, 13 lines of 45.
      {"144 DPI", 144, 800, {1011.0f, 1800.0f, 40}, 585 + 108, 27, 1215.0f},
      // Where not even one line fits, that line is still shown whole.
      {"work area lower than one line", 96, 100, {674.0f, 90.0f, 3}, 106, 2, 60.0f},
      {"one line never scrolls", 96, 100, {674.0f, 90.0f, 1}, 162, 0, 0.0f},
  };
  for (const Case& c : cases) {
    const ScreenRect work{0, 0, 1280, c.work_height};
    for (std::int32_t p = 0; p < kOverlayPositionCount; ++p) {
      const OverlayLayout l = LayOutOverlay(c.dpi, work, c.text, static_cast<OverlayPosition>(p));
      const std::string where = std::string(c.name) + ", position " + std::to_string(p) + ": " + Describe(l);
      EXPECT_EQ(l.height, c.want_height) << where;
      EXPECT_EQ(l.hidden_lines, c.want_hidden) << where;
      EXPECT_FLOAT_EQ(l.text_scroll, c.want_scroll) << where;
      if (c.want_hidden > 0) {
        // The scrolled-out lines stay above the text box, out of the inset.
        EXPECT_EQ(l.clip.y, l.text_box.y) << where;
        EXPECT_EQ(l.clip.y + l.clip.height, l.height - l.clip.x) << "down to the panel's bottom; " << where;
      }
    }
  }
}

TEST(OverlayLayoutTest, CappedWindowStaysWithinTheScreenMargins) {
  for (const std::uint32_t dpi : {96u, 120u, 144u, 192u}) {
    const std::int32_t margin = ScaleForDpi(28, dpi);
    const float pitch = static_cast<float>(ScaleForDpi(26, dpi)) * 1.3f;
    for (const std::int32_t work_height : {400, 601, 800, 1040, 2120}) {
      const ScreenRect work{0, 40, 1920, 40 + work_height};
      for (std::int32_t lines = 1; lines <= 300; lines += 7) {
        const MeasuredText text{600.0f, pitch * static_cast<float>(lines), lines};
        for (std::int32_t p = 0; p < kOverlayPositionCount; ++p) {
          const OverlayLayout l = LayOutOverlay(dpi, work, text, static_cast<OverlayPosition>(p));
          const std::string where = std::to_string(dpi) + " dpi, work height " + std::to_string(work_height) +
                                    ", " + std::to_string(lines) + " lines, position " + std::to_string(p) +
                                    ": " + Describe(l);
          ASSERT_GE(l.y, work.top + margin) << where;
          ASSERT_LE(l.y + l.height, work.bottom - margin) << where;
          // Whatever is shown is whole lines, the last of the text among them.
          const std::int32_t shown = lines - l.hidden_lines;
          ASSERT_GE(shown, 1) << where;
          ASSERT_GE(static_cast<float>(l.text_box.height) + 0.01f, pitch * static_cast<float>(shown))
              << where;
          ASSERT_LT(static_cast<float>(l.text_box.height), pitch * static_cast<float>(shown + 1)) << where;
          ASSERT_FLOAT_EQ(l.text_scroll, pitch * static_cast<float>(l.hidden_lines)) << where;
        }
      }
    }
  }
}

TEST(OverlayLayoutTest, IndicatorBars) {
  const OverlayLayout l = LayOutOverlay(96, {0, 0, 1920, 1040}, {300.0f, 30.0f, 1}, OverlayPosition::Center);
  // Frame 0: heights 8 + trunc(10 * (0.5 + 0.5 * sin(0.9 i))) = 13, 16, 17,
  // centred on (57, 53); the group is 3 * 4 + 2 * 5 = 22 wide.
  const std::array<BoxI, 3> want = {BoxI{46, 47, 4, 13}, BoxI{55, 45, 4, 16}, BoxI{64, 45, 4, 17}};
  EXPECT_EQ(IndicatorBars(MetricsForDpi(96), l, 0), want);

  for (const std::uint32_t dpi : {96u, 120u, 144u, 168u, 192u, 240u}) {
    const OverlayMetrics m = MetricsForDpi(dpi);
    const OverlayLayout at =
        LayOutOverlay(dpi, {0, 0, 4000, 3000}, {300.0f, 30.0f, 1}, OverlayPosition::Center);
    std::int32_t lowest = INT32_MAX;
    std::int32_t highest = 0;
    for (std::uint32_t frame = 0; frame < 400; ++frame) {
      const std::array<BoxI, 3> bars = IndicatorBars(m, at, frame);
      for (std::size_t i = 0; i < bars.size(); ++i) {
        const BoxI& bar = bars[i];
        const std::string where =
            std::to_string(dpi) + " dpi, frame " + std::to_string(frame) + ", bar " + std::to_string(i);
        ASSERT_GE(bar.width, 2) << where;
        ASSERT_EQ(bar.x, bars[0].x + static_cast<std::int32_t>(i) * (m.bar_width + m.bar_gap)) << where;
        ASSERT_GE(bar.x, at.indicator_left) << where;
        ASSERT_LE(bar.x + bar.width, at.indicator_left + at.indicator_size) << where;
        ASSERT_GE(bar.y, at.indicator_top) << where;
        ASSERT_LE(bar.y + bar.height, at.indicator_top + at.indicator_size) << where;
        lowest = std::min(lowest, bar.height);
        highest = std::max(highest, bar.height);
      }
    }
    // Over a few cycles the bars sweep their whole range.
    EXPECT_EQ(lowest, m.bar_min_height) << dpi;
    EXPECT_GE(highest, m.bar_min_height + m.bar_swing - 1) << dpi;
    EXPECT_LE(highest, m.bar_min_height + m.bar_swing) << dpi;
  }
}

TEST(OverlayLayoutTest, DirtyRectIsTheIndicatorWithinTheWindow) {
  OverlayLayout l = LayOutOverlay(96, {0, 0, 1920, 1040}, {300.0f, 30.0f, 1}, OverlayPosition::Center);
  EXPECT_EQ(IndicatorDirtyRect(l), (ScreenRect{38, 34, 76, 72}));
  l.indicator_left = 1;
  l.indicator_top = 0;
  l.width = 30;
  l.height = 20;
  EXPECT_EQ(IndicatorDirtyRect(l), (ScreenRect{0, 0, 30, 20}));
  l.width = 0;
  l.height = 0;
  EXPECT_EQ(IndicatorDirtyRect(l), (ScreenRect{0, 0, 0, 0}));
}

}  // namespace
}  // namespace lumora
