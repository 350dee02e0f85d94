#include "overlay/active_window_x11.h"

#include <QGuiApplication>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace lumora {
namespace {

Window ActiveWindow(Display* display) {
  const Window root = DefaultRootWindow(display);
  const Atom active = XInternAtom(display, "_NET_ACTIVE_WINDOW", True);
  Window found = None;
  if (active != None) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, root, active, 0, 1, False, XA_WINDOW, &type, &format, &count, &after, &data) ==
            Success &&
        data != nullptr) {
      if (type == XA_WINDOW && format == 32 && count == 1) {
        found = static_cast<Window>(*reinterpret_cast<unsigned long*>(data));
      }
      XFree(data);
    }
  }
  if (found == None) {
    int revert = 0;
    XGetInputFocus(display, &found, &revert);
    if (found == PointerRoot || found == root) {
      found = None;
    }
  }
  return found;
}

}  // namespace

std::optional<QPoint> ActiveWindowCentre() {
  auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  Display* display = x11 != nullptr ? x11->display() : nullptr;
  if (display == nullptr) {
    return std::nullopt;
  }
  const Window window = ActiveWindow(display);
  if (window == None) {
    return std::nullopt;
  }
  XWindowAttributes attributes{};
  Window child = None;
  int x = 0;
  int y = 0;
  if (XGetWindowAttributes(display, window, &attributes) == 0 ||
      XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child) == 0) {
    return std::nullopt;
  }
  return QPoint(x + attributes.width / 2, y + attributes.height / 2);
}

}  // namespace lumora
