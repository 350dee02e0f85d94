// Plays the shell's side of the tray icon for screenshots: tells a running
// program that its icon was right-clicked (the menu opens) or selected (the
// connection box opens).
//
//   tray_poke menu|info|close      (close: the connection box)

#include <windows.h>

#include <shellapi.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    return 2;
  }
  if (std::wcscmp(argv[1], L"close") == 0) {
    HWND box = FindWindowW(L"Parlino.ConnectionDialog", nullptr);
    if (box == nullptr) {
      return 1;
    }
    PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
    return 0;
  }
  HWND host = nullptr;
  for (int i = 0; i < 100 && host == nullptr; ++i) {
    host = FindWindowW(L"Parlino.Host", nullptr);
    if (host == nullptr) {
      Sleep(100);
    }
  }
  if (host == nullptr) {
    return 1;
  }
  const bool menu = std::wcscmp(argv[1], L"menu") == 0;
  // The tray callback message, as version 4 of the tray reports events.
  PostMessageW(host, WM_APP + 1, MAKEWPARAM(420, 240), MAKELPARAM(menu ? WM_CONTEXTMENU : NIN_SELECT, 1));
  return 0;
}
