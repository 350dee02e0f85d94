// Shows the live text overlay on the desktop until told to stop, for
// screenshots taken from outside (scripts/overlay-screenshots.sh).
//
//   overlay_show.exe TEXT_FILE LAYOUT_FILE STOP_FILE [THEME [POSITION [BACKDROP_RGB [PICTURE]]]]
//
// TEXT_FILE holds the UTF-8 text. Once the overlay is on the screen, its
// layout goes to LAYOUT_FILE as one line of numbers: x y width height
// text_x text_y text_width text_height indicator_left indicator_top
// indicator_size dpi hidden_lines. The program exits when STOP_FILE exists
// (or after a minute). BACKDROP_RGB (hex, e.g. F0F0F0) fills the work area
// beneath the overlay.
//
// PICTURE receives the overlay's own picture composed over the backdrop
// colour as a compositing desktop composes a layered window (per-pixel alpha
// and the constant alpha), as a binary PPM. Wine on a bare X server has no
// compositor: it puts the premultiplied pixels on the screen unblended, so a
// screenshot there shows the soft shadow as a black frame.

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/gdiplus_win.h"
#include "base/scoped_win.h"
#include "overlay/dpi_win.h"
#include "overlay/live_text_overlay_win.h"

namespace {

using lumora::LiveTextOverlay;

void Pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void WritePicture(const std::wstring& path, const std::vector<std::uint8_t>& bgra, int width, int height,
                  unsigned backdrop) {
  std::ofstream out(std::filesystem::path(path), std::ios::binary);
  out << "P6\n" << width << ' ' << height << "\n255\n";
  const double k = lumora::kOverlayConstantAlpha / 255.0;
  const double under[3] = {static_cast<double>((backdrop >> 16) & 0xFF),
                           static_cast<double>((backdrop >> 8) & 0xFF), static_cast<double>(backdrop & 0xFF)};
  for (std::size_t i = 0; i + 3 < bgra.size() && i / 4 < static_cast<std::size_t>(width) * height; i += 4) {
    const double cover = bgra[i + 3] / 255.0 * k;
    const double over[3] = {bgra[i + 2] * k, bgra[i + 1] * k, bgra[i] * k};
    for (int c = 0; c < 3; ++c) {
      out.put(static_cast<char>(static_cast<int>(over[c] + under[c] * (1 - cover) + 0.5)));
    }
  }
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

LRESULT CALLBACK BackdropProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_ERASEBKGND) {
    RECT client;
    GetClientRect(window, &client);
    auto brush = reinterpret_cast<HBRUSH>(GetClassLongPtrW(window, GCLP_HBRBACKGROUND));
    FillRect(reinterpret_cast<HDC>(wparam), &client, brush);
    return 1;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

HWND CreateBackdrop(COLORREF colour) {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = BackdropProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.hbrBackground = CreateSolidBrush(colour);
  window_class.lpszClassName = L"Parlino.OverlayShowBackdrop";
  RegisterClassW(&window_class);
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  return CreateWindowExW(0, L"Parlino.OverlayShowBackdrop", L"", WS_POPUP | WS_VISIBLE, work.left, work.top,
                         work.right - work.left, work.bottom - work.top, nullptr, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) {
    std::fprintf(
        stderr,
        "usage: overlay_show TEXT_FILE LAYOUT_FILE STOP_FILE [THEME [POSITION [BACKDROP_RGB [PICTURE]]]]\n");
    return 2;
  }
  const lumora::GdiplusSession gdiplus;
  std::ifstream text_file(std::filesystem::path(argv[1]), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(text_file)), std::istreambuf_iterator<char>());
  if (text.empty()) {
    std::fprintf(stderr, "overlay_show: no text in the text file\n");
    return 2;
  }
  const std::wstring layout_path = argv[2];
  const std::wstring stop_path = argv[3];
  const int theme = argc > 4 ? std::wcstol(argv[4], nullptr, 10) : 0;
  const int position = argc > 5 ? std::wcstol(argv[5], nullptr, 10) : 0;

  lumora::EnableDpiAwareness();
  HWND backdrop = nullptr;
  const unsigned rgb = argc > 6 ? static_cast<unsigned>(std::wcstoul(argv[6], nullptr, 16)) : 0;
  if (argc > 6) {
    backdrop = CreateBackdrop(RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF));
  }
  // The host's hidden window.
  HWND owner = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
  auto overlay = std::make_unique<LiveTextOverlay>(GetModuleHandleW(nullptr), owner);
  overlay->SetThemeColor(static_cast<lumora::OverlayThemeColor>(theme));
  overlay->SetPosition(static_cast<lumora::OverlayPosition>(position));
  overlay->ShowText(text);

  // Let the window reach the screen and the indicator move a few frames.
  const auto start = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(400)) {
    Pump();
    Sleep(10);
  }
  const lumora::OverlayLayout& l = overlay->layout();
  if (argc > 7) {
    // The animation is stopped first, so that the picture is one frame.
    KillTimer(overlay->window(), lumora::kOverlayTimerId);
    WritePicture(argv[7], overlay->SurfaceCopy(), l.width, l.height, rgb);
  }
  std::ostringstream line;
  line << l.x << ' ' << l.y << ' ' << l.width << ' ' << l.height << ' ' << l.text_box.x << ' ' << l.text_box.y
       << ' ' << l.text_box.width << ' ' << l.text_box.height << ' ' << l.indicator_left << ' '
       << l.indicator_top << ' ' << l.indicator_size << ' ' << overlay->dpi() << ' ' << l.hidden_lines
       << '\n';
  {
    std::ofstream out(std::filesystem::path(layout_path + L".tmp"), std::ios::binary);
    out << line.str();
  }
  MoveFileExW((layout_path + L".tmp").c_str(), layout_path.c_str(), MOVEFILE_REPLACE_EXISTING);

  while (!Exists(stop_path) && std::chrono::steady_clock::now() - start < std::chrono::minutes(1)) {
    Pump();
    Sleep(10);
  }
  overlay.reset();
  DestroyWindow(owner);
  if (backdrop != nullptr) {
    DestroyWindow(backdrop);
  }
  return 0;
}
