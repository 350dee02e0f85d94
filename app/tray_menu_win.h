#pragma once

#include <windows.h>

#include <vector>

#include "base/scoped_win.h"
#include "core/tray_texts.h"

namespace lumora {

inline constexpr UINT kTrayIconId = 1;

// The popup menu `items` describe (TrayMenuItems), with its submenus.
ScopedMenu BuildTrayMenu(const std::vector<TrayMenuItem>& items);

}  // namespace lumora
