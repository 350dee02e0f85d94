// The overlay's shadowed panel, drawn with the real GDI+ (Wine's, on the
// test bench).

#include "overlay/panel_frame_win.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "overlay/dpi.h"

namespace lumora {
namespace {

std::uint32_t Alpha(std::uint32_t pixel) { return pixel >> 24; }

int ChannelDifference(std::uint32_t a, std::uint32_t b) {
  int most = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    most = std::max(most,
                    std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)));
  }
  return most;
}

std::vector<std::uint32_t> Direct(std::int32_t width, std::int32_t height, std::uint32_t dpi,
                                  OverlayThemeColor theme) {
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  EXPECT_TRUE(DrawPanelFramePixels(pixels.data(), width, height, MetricsForDpi(dpi), PaletteForTheme(theme)));
  return pixels;
}

TEST(OverlayPanelFrameTest, StretchedPanelIsThePanelDrawnAtFullSize) {
  struct Size {
    std::int32_t width;
    std::int32_t height;
  };
  // Sizes at 96 DPI: the smallest window, one line, three lines at the widest,
  // a window as tall as the screen allows, and a narrow tall one.
  const Size sizes[] = {{130, 106}, {431, 106}, {804, 162}, {804, 744}, {170, 600}};
  struct Setting {
    std::uint32_t dpi;
    OverlayThemeColor theme;
  };
  const Setting settings[] = {{96, OverlayThemeColor::White},
                              {120, OverlayThemeColor::Pink},
                              {144, OverlayThemeColor::Purple},
                              {192, OverlayThemeColor::Blue}};
  for (const auto& [dpi, theme] : settings) {
    {
      PanelFrame frame;
      for (const Size& size : sizes) {
        const std::int32_t width = ScaleForDpi(size.width, dpi);
        const std::int32_t height = ScaleForDpi(size.height, dpi);
        std::vector<std::uint32_t> painted(static_cast<std::size_t>(width) *
                                           static_cast<std::size_t>(height));
        ASSERT_TRUE(frame.Paint(painted.data(), width, height, dpi, theme));
        const std::vector<std::uint32_t> drawn = Direct(width, height, dpi, theme);
        const std::int32_t cw = frame.corner_width();
        const std::int32_t ch = frame.corner_height();
        int moved_corner_differences = 0;
        for (std::int32_t y = 0; y < height; ++y) {
          for (std::int32_t x = 0; x < width; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + x;
            // Only built for a failure's message.
            const auto where = [&] {
              return std::to_string(dpi) + " dpi, theme " + std::to_string(static_cast<int>(theme)) + ", " +
                     std::to_string(width) + "x" + std::to_string(height) + ", pixel " + std::to_string(x) +
                     "," + std::to_string(y);
            };
            const bool corner = (x < cw || x >= width - cw) && (y < ch || y >= height - ch);
            if (!corner || (x < cw && y < ch)) {
              // Edges, middle and the corner that stays where it was drawn.
              ASSERT_EQ(painted[i], drawn[i]) << where();
              continue;
            }
            // Wine's GDI+ rasterizes an arc a little differently at another
            // position: a coverage step here and there, never a shape.
            const int difference = ChannelDifference(painted[i], drawn[i]);
            ASSERT_LE(difference, 32) << where();
            moved_corner_differences += difference > 0 ? 1 : 0;
          }
        }
        EXPECT_LE(moved_corner_differences, 3 * cw * ch / 50) << dpi << " dpi, " << width << "x" << height;
      }
    }
  }
}

TEST(OverlayPanelFrameTest, FollowsDpiAndTheme) {
  PanelFrame frame;
  const std::int32_t width = 431;
  const std::int32_t height = 106;
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
  const auto centre = [&] { return pixels[static_cast<std::size_t>(height / 2) * width + width / 2]; };
  ASSERT_TRUE(frame.Paint(pixels.data(), width, height, 96, OverlayThemeColor::Pink));
  EXPECT_EQ(centre(), 0xFFFFD6E6u);
  ASSERT_TRUE(frame.Paint(pixels.data(), width, height, 96, OverlayThemeColor::Blue));
  EXPECT_EQ(centre(), 0xFFD1E8FFu);
  ASSERT_TRUE(frame.Paint(pixels.data(), width, height, 96, static_cast<OverlayThemeColor>(9)));
  EXPECT_EQ(centre(), 0xFFFFFFFFu) << "out of range: white";
  // A DPI change redraws the corners at the new radius.
  ASSERT_TRUE(frame.Paint(pixels.data(), width, height, 192, OverlayThemeColor::White));
  EXPECT_EQ(pixels, Direct(width, height, 192, OverlayThemeColor::White));
  // Smaller than the stretched picture's corners: drawn whole.
  std::vector<std::uint32_t> small(40 * 40);
  ASSERT_TRUE(frame.Paint(small.data(), 40, 40, 96, OverlayThemeColor::Green));
  EXPECT_EQ(small, Direct(40, 40, 96, OverlayThemeColor::Green));
}

TEST(OverlayPanelFrameTest, SoftShadowAroundAnOpaquePanel) {
  const std::int32_t width = 431;
  const std::int32_t height = 106;
  const std::vector<std::uint32_t> p = Direct(width, height, 96, OverlayThemeColor::Yellow);
  const auto at = [&](std::int32_t x, std::int32_t y) { return p[static_cast<std::size_t>(y) * width + x]; };
  EXPECT_EQ(at(width / 2, height / 2), 0xFFFFF0B8u) << "opaque theme colour";
  EXPECT_EQ(at(0, 0), 0u) << "transparent outside the rounded corner";
  EXPECT_EQ(at(width - 1, 0), 0u);
  // Below the panel the shadow is black, faint at the window's edge and
  // darker toward the panel; it drops, so it is deeper below than above.
  std::uint32_t previous = 0;
  for (std::int32_t y = height - 1; y > height - 12; --y) {
    const std::uint32_t pixel = at(width / 2, y);
    EXPECT_EQ(pixel & 0x00FFFFFFu, 0u) << "black premultiplied, row " << y;
    EXPECT_GE(Alpha(pixel), previous) << "row " << y;
    previous = Alpha(pixel);
  }
  EXPECT_GT(previous, 16u);
  EXPECT_LT(previous, 64u);
  EXPECT_GT(Alpha(at(width / 2, height - 3)), Alpha(at(width / 2, 2)));
}

}  // namespace
}  // namespace lumora
