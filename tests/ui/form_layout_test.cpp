// The dialogs' layout from the font: every dialog over text sizes, DPIs and
// font shapes, with a model font, checked against what a user needs of it.

#include "ui/form_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "overlay/dpi.h"
#include "ui/dialog_forms.h"

namespace lumora {
namespace {

// A font whose full-width characters are `em` wide and whose others are
// `latin_percent` of that; text wraps at blanks and between full-width
// characters, as Windows wraps Chinese.
class ModelFont final : public TextMeasure {
 public:
  ModelFont(std::int32_t em, std::int32_t latin_percent) : em_(em), latin_((em * latin_percent + 99) / 100) {}

  std::int32_t LineHeight() const override { return (em_ * 4 + 2) / 3; }
  std::int32_t AverageWidth() const override { return latin_; }
  std::int32_t Width(std::u16string_view line) const override {
    std::int32_t width = 0;
    for (const char16_t c : line) {
      width += CharWidth(c);
    }
    return width;
  }
  std::int32_t WrappedHeight(std::u16string_view text, std::int32_t width) const override {
    std::int32_t lines = 1;
    std::int32_t x = 0;
    for (std::size_t i = 0; i < text.size();) {
      if (text[i] == u'\n') {
        ++lines;
        x = 0;
        ++i;
        continue;
      }
      // A word: one full-width character, or Latin up to a blank.
      std::size_t end = i + 1;
      while (!IsFullWidth(text[i]) && end < text.size() && text[end] != u' ' && text[end] != u'\n' &&
             !IsFullWidth(text[end])) {
        ++end;
      }
      const std::int32_t word = Width(text.substr(i, end - i));
      if (x > 0 && x + word > width) {
        ++lines;
        x = 0;
      }
      x += word;
      i = end;
    }
    return lines * LineHeight();
  }

 private:
  static bool IsFullWidth(char16_t c) { return c >= 0x2E80; }
  std::int32_t CharWidth(char16_t c) const { return IsFullWidth(c) ? em_ : latin_; }

  std::int32_t em_;
  std::int32_t latin_;
};

struct NamedForm {
  const char* name;
  Form form;
};

std::vector<NamedForm> AllForms() {
  // The longest phone line the prompt shows: a name and an address cut to
  // their limits, Latin without blanks so that nothing helps the wrapping.
  const std::u16string phone =
      u"\u201C" + std::u16string(40, u'W') + u"\u201D（" + std::u16string(64, u'f') + u"）";
  // The longest check the box says: a network's name and three causes.
  const std::u16string check =
      u"网络「" + std::u16string(32, u'N') + u"」是公用网络：" + std::u16string(120, u'字');
  return {{"settings", SettingsForm()},
          {"welcome", WelcomeForm(check)},
          {"contact", ContactForm()},
          {"phone prompt", PhonePromptForm(phone)},
          {"connection",
           ConnectionForm(u"heading " + check, check, u"line\nline\nline\nline\nline\nline\nline")}};
}

bool Overlap(const LayoutBox& a, const LayoutBox& b) {
  return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

// What the control needs so that its text and Windows' own parts of it
// (check box, arrow, borders) show whole, reckoned generously low: room for
// the text and the least chrome any Windows version draws.
void ExpectRoom(const FormControl& control, const LayoutBox& box, const TextMeasure& font,
                std::uint32_t dpi) {
  const auto s = [dpi](std::int32_t n) { return ScaleForDpi(n, dpi); };
  const std::int32_t line = font.LineHeight();
  const std::u16string shown = ShownText(control.text, control.literal);
  std::int32_t widest = 0;
  std::int32_t lines = 0;
  for (std::size_t start = 0;; ++lines) {
    const std::size_t end = shown.find(u'\n', start);
    widest = std::max(widest, font.Width(std::u16string_view(shown).substr(start, end - start)));
    if (end == std::u16string::npos) {
      ++lines;
      break;
    }
    start = end + 1;
  }
  std::int32_t need_width = 0;
  std::int32_t need_height = 0;
  switch (control.kind) {
    case ControlKind::Label:
      need_width = widest;
      need_height = lines * line;
      break;
    case ControlKind::Paragraph:
      need_height = font.WrappedHeight(shown, box.width);
      break;
    case ControlKind::NumberEdit:
      need_width = font.Width(u"65535") + s(4);
      need_height = line + s(4);
      break;
    case ControlKind::CheckBox:
      need_width = s(16) + widest;
      need_height = std::max(line, s(13));
      break;
    case ControlKind::DropList:
      for (const std::u16string& entry : control.entries) {
        need_width = std::max(need_width, font.Width(entry) + s(20));
      }
      need_height = line + s(4);
      break;
    case ControlKind::List:
    case ControlKind::ReadOnlyList:
      need_width = font.Width(u"255.255.255.255");
      need_height = control.rows * line;
      break;
    case ControlKind::Button:
    case ControlKind::DefaultButton:
      need_width = widest + s(6);
      need_height = line + s(4);
      break;
    case ControlKind::Picture:
      EXPECT_EQ(box.width, s(control.picture_size));
      EXPECT_EQ(box.height, s(control.picture_size));
      break;
  }
  EXPECT_GE(box.width, need_width) << "cut at the side";
  EXPECT_GE(box.height, need_height) << "cut at the bottom";
}

TEST(FormLayoutTest, NothingIsCutOrOverlapsAtAnyTextSizeDpiOrFont) {
  for (const NamedForm& named : AllForms()) {
    const std::vector<FormControl>& controls = named.form.controls;
    for (const std::int32_t text_size : {100, 125, 150, 175, 200, 225}) {
      for (const std::uint32_t dpi : {96u, 120u, 144u, 192u, 288u}) {
        for (const std::int32_t latin_percent : {50, 62}) {
          SCOPED_TRACE(std::string(named.name) + ", text " + std::to_string(text_size) + " %, " +
                       std::to_string(dpi) + " DPI, Latin " + std::to_string(latin_percent) + " %");
          // 12 pixels to the em at 96 DPI and 100 %, as the message font.
          const ModelFont font(ScaleForDpi(12 * text_size / 100 * 4, dpi) / 4, latin_percent);
          const FormLayout layout = LayOutForm(named.form, font, dpi);
          ASSERT_EQ(layout.boxes.size(), controls.size());
          for (std::size_t i = 0; i < controls.size(); ++i) {
            SCOPED_TRACE("control " + std::to_string(i));
            const LayoutBox& box = layout.boxes[i];
            ExpectRoom(controls[i], box, font, dpi);
            EXPECT_TRUE(box.x >= 0 && box.y >= 0 && box.x + box.width <= layout.client_width &&
                        box.y + box.height <= layout.client_height)
                << "outside the client area";
            for (std::size_t j = i + 1; j < controls.size(); ++j) {
              EXPECT_FALSE(Overlap(box, layout.boxes[j])) << "overlaps control " << j;
            }
            // A field shares its label's row.
            if (controls[i].place == Place::Field) {
              const LayoutBox& label = layout.boxes[i - 1];
              EXPECT_LE(label.x + label.width, box.x);
              EXPECT_NEAR(2 * label.y + label.height, 2 * box.y + box.height, 2);
            }
          }
        }
      }
    }
  }
}

TEST(FormLayoutTest, BiggerTextMakesABiggerDialog) {
  // The dialog grows with the text, not only with the DPI: at 200 % text
  // size it is about twice as big as at 100 %, at the same DPI.
  for (const NamedForm& named : AllForms()) {
    SCOPED_TRACE(named.name);
    const FormLayout normal = LayOutForm(named.form, ModelFont(12, 55), 96);
    const FormLayout twice = LayOutForm(named.form, ModelFont(24, 55), 96);
    if (std::string(named.name) != "contact") {  // its picture does not grow with the text
      EXPECT_GT(twice.client_width, normal.client_width * 17 / 10);
      EXPECT_GT(twice.client_height, normal.client_height * 17 / 10);
    }
  }
}

TEST(FormLayoutTest, ALongTitleWidensTheDialogAndCentredControlsStayCentred) {
  const FormLayout layout = LayOutForm(ContactForm(), ModelFont(12, 55), 96, 1000);
  EXPECT_EQ(layout.client_width, 1000);
  for (const LayoutBox& box : layout.boxes) {
    EXPECT_NEAR(2 * box.x + box.width, layout.client_width, 1);
  }
}

TEST(FormLayoutTest, ShownTextDropsTheAccessKeyMarks) {
  const struct {
    std::u16string_view text;
    bool literal;
    std::u16string_view shown;
  } cases[] = {
      {u"端口(&P)：", false, u"端口(P)："},
      {u"A && B", false, u"A & B"},
      {u"ends with &", false, u"ends with "},
      {u"A && B &C", true, u"A && B &C"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ShownText(c.text, c.literal), c.shown);
  }
}

}  // namespace
}  // namespace lumora
