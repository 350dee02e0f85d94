// Font fallback and measuring with the real GDI+ (Wine's, on the test bench,
// whose prefix maps the Windows font names to Debian fonts).

#include "overlay/overlay_text_win.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace lumora {
namespace {

std::wstring FamilyOf(const Gdiplus::Font* font) {
  if (font == nullptr) {
    return L"<none>";
  }
  Gdiplus::FontFamily family;
  if (font->GetFamily(&family) != Gdiplus::Ok) {
    return L"<no family>";
  }
  WCHAR name[LF_FACESIZE] = {};
  family.GetFamilyName(name);
  return name;
}

std::wstring NoGeneric() { return L""; }
std::wstring MissingGeneric() { return L"Parlino No Such Generic"; }
std::wstring SerifGeneric() { return L"Liberation Serif"; }

constexpr const wchar_t* kMissing = L"Parlino No Such Family";

TEST(OverlayFontTest, FallsBackWithoutEverUsingAMissingFamily) {
  struct Case {
    const char* name;
    std::initializer_list<const wchar_t*> families;
    FamilyNameQuery generic;
    const wchar_t* want;  // nullptr: no font
  };
  const Case cases[] = {
      {"preferred family installed",
       {L"WenQuanYi Zen Hei", L"Liberation Sans"},
       SerifGeneric,
       L"WenQuanYi Zen Hei"},
      {"generic family before the last resort",
       {kMissing, L"Liberation Sans"},
       SerifGeneric,
       L"Liberation Serif"},
      // Wine without the Windows fonts: the generic query gives nothing.
      {"no generic family", {kMissing, L"Liberation Sans"}, NoGeneric, L"Liberation Sans"},
      {"generic family not installed", {kMissing, L"Liberation Sans"}, MissingGeneric, L"Liberation Sans"},
      {"no generic query", {kMissing, L"Liberation Sans"}, nullptr, L"Liberation Sans"},
      {"nothing at all", {kMissing, kMissing}, NoGeneric, nullptr},
      {"empty and null names", {L"", nullptr}, MissingGeneric, nullptr},
  };
  for (const Case& c : cases) {
    const auto font = CreateFontFromFamilies(c.families, 26.0f, c.generic);
    if (c.want == nullptr) {
      EXPECT_EQ(font, nullptr) << c.name;
      continue;
    }
    ASSERT_NE(font, nullptr) << c.name;
    EXPECT_EQ(FamilyOf(font.get()), c.want) << c.name;
    EXPECT_FLOAT_EQ(font->GetSize(), 26.0f) << c.name;
    EXPECT_EQ(font->GetUnit(), Gdiplus::UnitPixel) << c.name;
    // Not the style: Wine reports the medium weight of WenQuanYi Zen Hei as bold.
  }
}

TEST(OverlayFontTest, OverlayFontResolvesOnTheBench) {
  // The bench's prefix maps "Microsoft YaHei UI" to WenQuanYi Zen Hei.
  const auto font = CreateOverlayFont(26.0f);
  ASSERT_NE(font, nullptr);
  const MeasuredText one = MeasureOverlayText(font.get(), L"今天", 674);
  EXPECT_EQ(one.lines, 1);
  EXPECT_GT(one.width, 40.0f);
  EXPECT_LT(one.width, 80.0f);
  EXPECT_GT(one.height, 20.0f);
}

TEST(OverlayFontTest, MeasuringWithoutFontOrTextGivesNothing) {
  const auto font = CreateOverlayFont(26.0f);
  EXPECT_EQ(MeasureOverlayText(nullptr, L"text", 674).lines, 0);
  EXPECT_EQ(MeasureOverlayText(font.get(), L"", 674).lines, 0);
}

// The text is drawn wrapped at its measured width rounded up, not at the
// width it was measured at; it must break into the same lines there, or its
// last line falls out of the box.
TEST(OverlayFontTest, TextWrapsTheSameAtItsMeasuredWidth) {
  const auto font = CreateOverlayFont(26.0f);
  ASSERT_NE(font, nullptr);
  const std::wstring sentence = L"今天天气很好，我们去公园散步吧。";
  const std::wstring texts[] = {
      sentence,
      sentence + sentence + sentence + sentence,
      L"The quick brown fox jumps over the lazy dog, then over the lazy dog again and again.",
      L"Mixed 中文 and English words, 标点符号， and numbers 12345 67890.",
      L"first line\nsecond line, a little longer\n\nfourth",
      L"Aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
  };
  for (const std::int32_t max_width : {674, 300, 40}) {
    for (const std::wstring& text : texts) {
      const MeasuredText wide = MeasureOverlayText(font.get(), text, max_width);
      ASSERT_GT(wide.lines, 0);
      EXPECT_LE(wide.width, static_cast<float>(max_width) + 0.5f);
      const auto drawn_width = static_cast<std::int32_t>(std::ceil(wide.width));
      const MeasuredText again = MeasureOverlayText(font.get(), text, drawn_width);
      EXPECT_EQ(again.lines, wide.lines) << max_width << ": " << text.size() << " units";
      EXPECT_FLOAT_EQ(again.height, wide.height) << max_width << ": " << text.size() << " units";
    }
  }
}

TEST(OverlayFontTest, LongTextIsMeasuredToItsEnd) {
  // 700 lines: far past 10000 pixels, the newest words are at the end.
  const auto font = CreateOverlayFont(26.0f);
  ASSERT_NE(font, nullptr);
  std::wstring text;
  for (int i = 0; i < 700; ++i) {
    text += i == 0 ? L"说话" : L"\n说话";
  }
  const MeasuredText measured = MeasureOverlayText(font.get(), text, 674);
  EXPECT_EQ(measured.lines, 700);
  EXPECT_GT(measured.height, 10000.0f);
}

}  // namespace
}  // namespace lumora
