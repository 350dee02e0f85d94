// The contact dialog on the bench's desktop: its picture read back from the
// screen, its controls; and the picture's decoding. The frame it shares with
// the other dialogs (title, placement, owner, the ways to close it) is tested
// with the settings dialog.

#include "ui/contact_feedback_dialog_win.h"

#include <windows.h>

#include <objidl.h>

#include <gdiplus.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "base/scoped_win.h"
#include "overlay/dpi_win.h"
#include "tests/ui/dialog_script_win.h"
#include "tests/ui/dialog_test_support_win.h"
#include "ui/dialog_layout.h"

namespace lumora {
namespace {

using testing::ChildrenOf;
using testing::ChildWindow;
using testing::DialogScript;

using testing::kInstance;

// The picture's frame colour (res/make_images.sh): it reaches every edge.
constexpr COLORREF kFrameColour = RGB(0x2B, 0x4F, 0xD8);
// Inside the frame: the white card.
constexpr COLORREF kCardColour = RGB(0xFF, 0xFF, 0xFF);

bool Near(COLORREF got, COLORREF want) {
  return std::abs(GetRValue(got) - GetRValue(want)) <= 24 &&
         std::abs(GetGValue(got) - GetGValue(want)) <= 24 && std::abs(GetBValue(got) - GetBValue(want)) <= 24;
}

std::string Hex(COLORREF colour) {
  char text[16];
  std::snprintf(text, sizeof text, "#%02X%02X%02X", GetRValue(colour), GetGValue(colour), GetBValue(colour));
  return text;
}

// What the user sees at a point of the dialog's client area.
COLORREF ClientPixel(HWND dialog, int x, int y) {
  const ScopedGetDC dc(dialog);
  return GetPixel(dc.get(), x, y);
}

// The picture's square: as wide as the picture at 96 DPI, centred, midway
// between the caption and the button.
RECT PictureSquare(HWND dialog) {
  RECT client{};
  GetClientRect(dialog, &client);
  const std::vector<ChildWindow> children = ChildrenOf(dialog);  // the caption, the button
  if (children.size() != 2) {
    return {};
  }
  const RECT caption = children[0].rect;
  const RECT close = children[1].rect;
  const int size = kContactPictureSize;
  const int x = (client.right - size) / 2;
  const int y = caption.bottom + (close.top - caption.bottom - size) / 2;
  return {x, y, x + size, y + size};
}

// Checks that the picture fills its square, and nothing around it.
void ExpectPictureDrawn(HWND dialog) {
  const RECT square = PictureSquare(dialog);
  const int x = square.left;
  const int y = square.top;
  const int size = square.right - square.left;
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  struct Probe {
    const char* where;
    int px, py;
    COLORREF want;
  };
  const Probe probes[] = {
      {"top left corner", x + 3, y + 3, kFrameColour},
      {"top right corner", x + size - 4, y + 3, kFrameColour},
      {"bottom left corner", x + 3, y + size - 4, kFrameColour},
      {"bottom right corner", x + size - 4, y + size - 4, kFrameColour},
      {"card", x + size / 10, y + size / 2, kCardColour},
      {"left of it", x - 3, y + size / 2, face},
      {"right of it", x + size + 2, y + size / 2, face},
      {"above it", x + size / 2, y - 3, face},
      {"below it", x + size / 2, y + size + 2, face},
  };
  for (const Probe& probe : probes) {
    const COLORREF got = ClientPixel(dialog, probe.px, probe.py);
    EXPECT_TRUE(Near(got, probe.want)) << probe.where << " at " << probe.px << "," << probe.py << ": "
                                       << Hex(got) << ", want " << Hex(probe.want);
  }
}

class ContactDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(WindowDpi(nullptr), 96u) << "these tests read pixels at 96 DPI"; }
  void TearDown() override { detail::SetDialogDpiForTest(0); }
};

TEST_F(ContactDialogTest, PictureIsDrawnInItsSquareEachTimeItOpens) {
  // Decoded anew at each opening, so every opening must show it.
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    DialogScript script;
    script.WaitForDialog(kContactDialogClass)
        .Then("painted", [&] { return GetUpdateRect(script.dialog(), nullptr, FALSE) == FALSE; })
        .Check([&] { ExpectPictureDrawn(script.dialog()); })
        .Click(kContactCloseId);
    script.Start();
    EXPECT_TRUE(ContactFeedbackDialog::Run(nullptr, kInstance));
    EXPECT_TRUE(script.finished()) << script.failure();
  }
}

// Where the controls go is the layout's rule, tested natively; here, that the
// live dialog has them whole, the caption and the button centred, at each DPI.
TEST_F(ContactDialogTest, CaptionAndButtonCentredAroundThePictureAtEachDpi) {
  for (const std::uint32_t dpi : {96u, 144u}) {
    SCOPED_TRACE(dpi);
    detail::SetDialogDpiForTest(dpi);
    DialogScript script;
    script.WaitForDialog(kContactDialogClass)
        .Check([&] {
          HWND dialog = script.dialog();
          testing::ExpectControls(dialog, {
                                              {L"Static", kContactCaptionId, L"联系作者 · 问题反馈"},
                                              {L"Button", kContactCloseId, L"关闭"},
                                          });
          testing::ExpectUsableLayout(dialog, dpi, {});
          RECT client{};
          GetClientRect(dialog, &client);
          const std::vector<ChildWindow> children = ChildrenOf(dialog);
          ASSERT_EQ(children.size(), 2u);
          for (const ChildWindow& child : children) {
            EXPECT_NEAR(child.rect.left + child.rect.right, client.right, 1) << "not centred";
          }
          // Room for the picture between them, at its size for the DPI.
          EXPECT_GE(children[1].rect.top - children[0].rect.bottom, MulDiv(kContactPictureSize, dpi, 96));
          // The default button: Enter closes the window as Esc does.
          EXPECT_EQ(children[1].style & BS_TYPEMASK, static_cast<DWORD>(BS_DEFPUSHBUTTON));
        })
        .Click(kContactCloseId);
    script.Start();
    EXPECT_TRUE(ContactFeedbackDialog::Run(nullptr, kInstance));
    EXPECT_TRUE(script.finished()) << script.failure();
  }
}

// The bytes of RCDATA 103 of `module`.
std::string ContactResourceBytes(HMODULE module) {
  HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(103), RT_RCDATA);
  if (info == nullptr) {
    return {};
  }
  const void* bytes = LockResource(LoadResource(module, info));
  return std::string(static_cast<const char*>(bytes), SizeofResource(module, info));
}

TEST(ContactImageTest, DecodesThePngAndNothingElse) {
  const std::string png = ContactResourceBytes(kInstance);
  ASSERT_FALSE(png.empty());
  struct Case {
    const char* what;
    std::string bytes;
    bool decodes;
  };
  const Case cases[] = {
      {"the contact picture", png, true},
      {"text", "not a picture at all", false},
      {"a PNG signature and nothing else", png.substr(0, 8), false},
      {"nothing", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto bitmap = detail::DecodeImage(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(bitmap != nullptr, c.decodes);
    if (bitmap != nullptr) {
      EXPECT_EQ(bitmap->GetWidth(), 820u);
      EXPECT_EQ(bitmap->GetHeight(), 820u);
    }
  }
  EXPECT_EQ(detail::DecodeImage(nullptr, 10), nullptr);
}

TEST(ContactImageTest, LoadedFromTheModulesResourcesOrNone) {
  const auto picture = detail::LoadContactImage(kInstance);
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->GetWidth(), 820u);
  // A module without the resource: no picture, and no crash.
  EXPECT_EQ(detail::LoadContactImage(GetModuleHandleW(L"kernel32.dll")), nullptr);
}

}  // namespace
}  // namespace lumora
