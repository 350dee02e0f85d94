#include "overlay/overlay_text_win.h"

#include <cmath>

namespace lumora {

namespace {

// Tall enough for any text the phone can send (a line of the link is at most
// 64 KiB), so that the measured lines always reach the end of the text: the
// newest words are at the end.
constexpr float kMeasureHeight = 1.0e7f;

std::unique_ptr<Gdiplus::Font> FontOfFamily(const wchar_t* name, float em_pixels) {
  if (name == nullptr || *name == L'\0') {
    return nullptr;
  }
  // A missing family leaves FontFamily without a native family; a Font made
  // from that fails on first use, so nothing is built on it.
  const Gdiplus::FontFamily family(name);
  if (family.GetLastStatus() != Gdiplus::Ok || !family.IsAvailable()) {
    return nullptr;
  }
  auto font =
      std::make_unique<Gdiplus::Font>(&family, em_pixels, Gdiplus::FontStyleRegular, Gdiplus::UnitPixel);
  if (font->GetLastStatus() != Gdiplus::Ok || !font->IsAvailable()) {
    return nullptr;
  }
  return font;
}

}  // namespace

std::wstring GenericSansSerifName() {
  static const std::wstring name = [] {
    // Queried once: Windows hands out one shared family, Wine a new one per
    // call, so it is kept rather than deleted.
    Gdiplus::GpFontFamily* family = nullptr;
    if (Gdiplus::DllExports::GdipGetGenericFontFamilySansSerif(&family) != Gdiplus::Ok || family == nullptr) {
      return std::wstring();
    }
    WCHAR buffer[LF_FACESIZE] = {};
    if (Gdiplus::DllExports::GdipGetFamilyName(family, buffer, LANG_NEUTRAL) != Gdiplus::Ok) {
      return std::wstring();
    }
    return std::wstring(buffer);
  }();
  return name;
}

std::unique_ptr<Gdiplus::Font> CreateFontFromFamilies(std::initializer_list<const wchar_t*> families,
                                                      float em_pixels, FamilyNameQuery generic) {
  for (const wchar_t* name : families) {
    if (auto font = FontOfFamily(name, em_pixels)) {
      return font;
    }
    if (generic != nullptr) {
      if (auto font = FontOfFamily(generic().c_str(), em_pixels)) {
        return font;
      }
    }
  }
  return nullptr;
}

std::unique_ptr<Gdiplus::Font> CreateOverlayFont(float em_pixels) {
  return CreateFontFromFamilies({L"Microsoft YaHei UI", L"Segoe UI"}, em_pixels, GenericSansSerifName);
}

std::unique_ptr<Gdiplus::StringFormat> OverlayStringFormat() {
  auto format = std::make_unique<Gdiplus::StringFormat>(0);
  format->SetAlignment(Gdiplus::StringAlignmentNear);
  format->SetLineAlignment(Gdiplus::StringAlignmentNear);
  return format;
}

MeasuredText MeasureOverlayText(const Gdiplus::Font* font, const std::wstring& text, std::int32_t max_width) {
  MeasuredText measured;
  if (font == nullptr || text.empty()) {
    return measured;
  }
  Gdiplus::Bitmap scratch(8, 8, PixelFormat32bppARGB);
  Gdiplus::Graphics graphics(&scratch);
  graphics.SetPageUnit(Gdiplus::UnitPixel);
  // The hint the text is drawn with: grid fitting changes advance widths, and
  // a text measured without it could wrap one word later when drawn at the
  // measured width, pushing its last line out of the box.
  graphics.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAliasGridFit);
  const auto format = OverlayStringFormat();
  const Gdiplus::RectF layout_rect(0, 0, static_cast<Gdiplus::REAL>(max_width), kMeasureHeight);
  Gdiplus::RectF bounds;
  INT fitted = 0;
  INT lines = 0;
  if (graphics.MeasureString(text.c_str(), static_cast<INT>(text.size()), font, layout_rect, format.get(),
                             &bounds, &fitted, &lines) != Gdiplus::Ok) {
    return measured;
  }
  measured.width = bounds.Width;
  measured.height = bounds.Height;
  measured.lines = lines;
  return measured;
}

HBITMAP CreateArgbSurface(HDC dc, int width, int height, void** bits) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  *bits = nullptr;
  return CreateDIBSection(dc, &info, DIB_RGB_COLORS, bits, nullptr, 0);
}

}  // namespace lumora
