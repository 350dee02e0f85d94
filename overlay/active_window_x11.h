#pragma once

#include <QPoint>

#include <optional>

namespace lumora {

// The centre of the window the user works in, in X root coordinates (device
// pixels): the window manager's active window (_NET_ACTIVE_WINDOW), or the
// window with the input focus where no window manager says. Nothing when
// this is not an X11 session or nothing is in front.
std::optional<QPoint> ActiveWindowCentre();

}  // namespace lumora
