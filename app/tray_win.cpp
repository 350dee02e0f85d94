#include "app/win32_app_win.h"

// The tray icon and its menu hang off the host window. Until they exist the
// program is reached only through the phone; these are the places where the
// tray plugs into start-up, the window procedure and the server events.

namespace lumora {

void Win32App::AddTrayIcon() {}

void Win32App::UpdateTrayTip() {}

void Win32App::ShowTrayMenu(int /*x*/, int /*y*/) {}

void Win32App::ShowConnectionInfo() {}

}  // namespace lumora
