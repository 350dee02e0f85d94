// Where the dialogs open.

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
      {"no owner, a work area smaller than the dialog",
       std::nullopt,
       DialogRect{0, 40, 300, 240},
       {{0, 40, 380, 270}, false}},
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

}  // namespace
}  // namespace lumora
