// Where the dialogs open and how the contact dialog arranges its picture.

#include "ui/dialog_layout.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>

namespace lumora {
namespace {

TEST(DialogPlacementTest, CentredOnABigOwnerElseOnTheWorkArea) {
  struct Case {
    const char* what;
    std::optional<DialogRect> owner;
    std::optional<DialogRect> work_area;
    DialogPlacement want;
  };
  const DialogRect work{0, 0, 1280, 760};
  const Case cases[] = {
      {"owner 800 x 600", DialogRect{100, 50, 900, 650}, work, {{310, 215, 380, 270}, true}},
      {"owner exactly 200 x 200", DialogRect{0, 0, 200, 200}, work, {{-90, -35, 380, 270}, true}},
      {"owner 199 wide", DialogRect{0, 0, 199, 600}, work, {{450, 245, 380, 270}, false}},
      {"owner 199 high", DialogRect{0, 0, 600, 199}, work, {{450, 245, 380, 270}, false}},
      {"the host's window, no size", DialogRect{0, 0, 0, 0}, work, {{450, 245, 380, 270}, false}},
      {"no owner", std::nullopt, work, {{450, 245, 380, 270}, false}},
      {"work area with a taskbar on the left",
       std::nullopt,
       DialogRect{60, 0, 1280, 800},
       {{480, 265, 380, 270}, false}},
      {"no work area either", std::nullopt, std::nullopt, {{450, 265, 380, 270}, false}},
      // Odd differences: halves truncate toward zero.
      {"odd owner", DialogRect{0, 0, 381, 271}, work, {{0, 0, 380, 270}, true}},
      {"owner smaller than the dialog", DialogRect{10, 10, 250, 250}, work, {{-60, -5, 380, 270}, true}},
      // A monitor left of the primary one.
      {"owner at negative coordinates",
       DialogRect{-1600, -200, -400, 700},
       work,
       {{-1190, 115, 380, 270}, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(PlaceDialog(380, 270, c.owner, c.work_area), c.want);
  }
}

TEST(DialogPlacementTest, HalvesTruncateTowardZeroAndExtremesDoNotOverflow) {
  // -1 / 2 is 0, not -1: a dialog one pixel wider than the area starts at
  // the area's left edge.
  EXPECT_EQ(PlaceDialog(201, 201, DialogRect{0, 0, 200, 200}, std::nullopt).window.x, 0);
  EXPECT_EQ(PlaceDialog(203, 201, DialogRect{0, 0, 200, 200}, std::nullopt).window.x, -1);
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  const DialogPlacement far =
      PlaceDialog(400, 300, DialogRect{kMax - 1000, kMax - 1000, kMax, kMax}, std::nullopt);
  EXPECT_EQ(far.window.x, kMax - 1000 + 300);
  EXPECT_TRUE(far.disable_owner);
}

TEST(ContactLayoutTest, PictureBetweenCaptionAndButton) {
  struct Case {
    const char* what;
    std::int32_t width, height;
    std::uint32_t dpi;
    ContactLayout want;
  };
  const Case cases[] = {
      // Client area of the 440 x 496 window with a thin frame and a caption
      // of 23: 380 wide after margins, 329 high between caption and button.
      {"96 DPI, height limits", 434, 465, 96, {{20, 20, 394, 36}, {173, 417, 88, 28}, 52, 72, 329}},
      {"96 DPI, room for all of it", 600, 700, 96, {{20, 20, 560, 36}, {256, 652, 88, 28}, 120, 174, 360}},
      {"96 DPI, width limits", 300, 700, 96, {{20, 20, 260, 36}, {106, 652, 88, 28}, 20, 224, 260}},
      // 150 %: every size times 1.5; the picture at most 540.
      {"144 DPI, height limits", 651, 697, 144, {{30, 30, 591, 54}, {259, 625, 132, 42}, 79, 108, 493}},
      {"144 DPI, big", 1000, 1000, 144, {{30, 30, 940, 54}, {434, 928, 132, 42}, 230, 236, 540}},
      {"200 %", 900, 1000, 192, {{40, 40, 820, 72}, {362, 904, 176, 56}, 90, 148, 720}},
      // No room left: no picture.
      {"too small", 100, 120, 96, {{20, 20, 60, 36}, {6, 72, 88, 28}, 50, 72, 0}},
      {"nothing", 0, 0, 96, {{20, 20, -40, 36}, {-44, -48, 88, 28}, 0, 72, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ContactLayout got = LayOutContactDialog(c.width, c.height, c.dpi);
    EXPECT_EQ(got.caption, c.want.caption);
    EXPECT_EQ(got.close_button, c.want.close_button);
    EXPECT_EQ(got.image_x, c.want.image_x);
    EXPECT_EQ(got.image_y, c.want.image_y);
    EXPECT_EQ(got.image_size, c.want.image_size);
  }
}

TEST(ContactLayoutTest, PictureNeverLeavesItsRoom) {
  for (std::int32_t width = 0; width <= 800; width += 7) {
    for (std::int32_t height = 0; height <= 900; height += 11) {
      for (const std::uint32_t dpi : {96u, 120u, 144u, 192u}) {
        const ContactLayout l = LayOutContactDialog(width, height, dpi);
        ASSERT_GE(l.image_size, 0);
        if (l.image_size == 0) {
          continue;
        }
        const std::int32_t margin = (20 * static_cast<std::int32_t>(dpi) + 48) / 96;
        ASSERT_GE(l.image_x, margin) << width << "x" << height << "@" << dpi;
        ASSERT_LE(l.image_x + l.image_size, width - margin);
        ASSERT_GE(l.image_y, l.caption.y + l.caption.height);
        ASSERT_LE(l.image_y + l.image_size, l.close_button.y);
      }
    }
  }
}

}  // namespace
}  // namespace lumora
