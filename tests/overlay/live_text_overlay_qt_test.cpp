// The Linux overlay's window as the X server sees it: no window manager
// handles it, clicks pass through it, it never takes the focus, and its
// voice animation runs only while it is shown.

#include "overlay/live_text_overlay_qt.h"

#include "tests/support/qt_app_posix.h"
// clang-format off
#include <X11/Xlib.h>
#include <X11/extensions/shape.h>
// clang-format on

#include <QImage>
#include <QWindow>

#include <cstdlib>

namespace lumora {
namespace {

using testing::PumpUntil;

TEST(LiveTextOverlayQtTest, AnOverrideRedirectWindowWithNoInputShapeThatNeverTakesTheFocus) {
  Display* display = XOpenDisplay(testing::kQtApplication->display().c_str());
  ASSERT_NE(display, nullptr);
  // The window the user types in.
  const Window editor = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 300, 200, 0, 0, 0);
  XMapWindow(display, editor);
  XSync(display, False);
  XSetInputFocus(display, editor, RevertToParent, CurrentTime);
  XSync(display, False);

  LiveTextOverlayQt overlay;
  EXPECT_FALSE(overlay.animating()) << "a hidden overlay animates";
  overlay.ShowText("你好，世界");
  ASSERT_TRUE(PumpUntil([&] { return overlay.windowHandle() != nullptr && overlay.windowHandle()->isExposed(); }));
  EXPECT_TRUE(overlay.animating());
  const std::uint32_t first_frame = overlay.frame();
  ASSERT_TRUE(PumpUntil([&] { return overlay.frame() > first_frame + 2; })) << "the indicator does not move";

  const auto window = static_cast<Window>(overlay.winId());
  XWindowAttributes attributes{};
  ASSERT_NE(XGetWindowAttributes(display, window, &attributes), 0);
  EXPECT_TRUE(attributes.override_redirect);
  EXPECT_EQ(attributes.map_state, IsViewable);
  int count = -1;
  int ordering = 0;
  XRectangle* input = XShapeGetRectangles(display, window, ShapeInput, &count, &ordering);
  EXPECT_EQ(count, 0) << "the window takes clicks";
  if (input != nullptr) {
    XFree(input);
  }
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(display, &focus, &revert);
  EXPECT_EQ(focus, editor) << "the overlay took the focus";

  // Drawn: the panel in the theme's colour around the text.
  const QImage picture = overlay.grab().toImage();
  if (const char* keep = std::getenv("PARLINO_OVERLAY_PICTURE")) {
    picture.save(QString::fromLocal8Bit(keep));
  }
  const OverlayLayout& layout = overlay.layout();
  const QColor panel = picture.pixelColor(layout.text_box.x + layout.text_box.width - 2, layout.text_box.y - 2);
  EXPECT_EQ(panel.rgba(), QColor::fromRgba(PaletteForTheme(OverlayThemeColor::White).panel).rgba());

  overlay.Hide();
  EXPECT_FALSE(overlay.animating()) << "the animation goes on while hidden";
  XCloseDisplay(display);
}

}  // namespace
}  // namespace lumora
