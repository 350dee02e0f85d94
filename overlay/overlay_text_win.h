#pragma once

// The overlay's font and text measuring with GDI+.

#include <windows.h>

#include <objidl.h>

#include <gdiplus.h>

#include <initializer_list>
#include <memory>
#include <string>

#include "overlay/overlay_layout.h"

namespace lumora {

// The name of GDI+'s generic sans-serif family, or "" when there is none:
// Wine without the Windows fonts fails that query and hands back null.
std::wstring GenericSansSerifName();

using FamilyNameQuery = std::wstring (*)();

// A regular font of `em_pixels` pixels: for each of `families` in turn, that
// family, else the generic sans-serif family (as `generic` names it); null
// when none of them can be had.
std::unique_ptr<Gdiplus::Font> CreateFontFromFamilies(std::initializer_list<const wchar_t*> families,
                                                      float em_pixels, FamilyNameQuery generic);

// The overlay's font: "Microsoft YaHei UI", else the generic sans-serif
// family, else "Segoe UI".
std::unique_ptr<Gdiplus::Font> CreateOverlayFont(float em_pixels);

// The string format the text is both measured and drawn with: wrapping at
// word boundaries and line breaks, near alignment both ways.
std::unique_ptr<Gdiplus::StringFormat> OverlayStringFormat();

// The text's bounding box and line count when wrapped at `max_width`; all
// zero without a font.
MeasuredText MeasureOverlayText(const Gdiplus::Font* font, const std::wstring& text, std::int32_t max_width);

// A 32-bit top-down DIB section of the given size, compatible with `dc`, for
// per-pixel-alpha drawing; `bits` receives its pixels. Null on failure.
HBITMAP CreateArgbSurface(HDC dc, int width, int height, void** bits);

}  // namespace lumora
