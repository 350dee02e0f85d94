#include "tests/ui/dialog_test_support_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "overlay/dpi_win.h"

namespace lumora::testing {

std::vector<ChildWindow> ChildrenOf(HWND dialog) {
  std::vector<ChildWindow> children;
  // New children go below their older siblings: the first child in z-order
  // is the first created.
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    ChildWindow found{child, ClassOf(child), GetDlgCtrlID(child), WindowText(child), {}, 0};
    GetWindowRect(child, &found.rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&found.rect), 2);
    found.style = static_cast<DWORD>(GetWindowLongPtrW(child, GWL_STYLE));
    children.push_back(found);
  }
  return children;
}

void ExpectControls(HWND dialog, const std::vector<WantControl>& want) {
  const std::vector<ChildWindow> children = ChildrenOf(dialog);
  ASSERT_EQ(children.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE("control " + std::to_string(i));
    EXPECT_EQ(_wcsicmp(children[i].class_name.c_str(), want[i].class_name), 0)
        << "a " << children[i].class_name.size() << "-letter class";
    EXPECT_EQ(children[i].id, want[i].id);
    if (want[i].text != nullptr) {
      EXPECT_EQ(children[i].text, want[i].text);
    }
  }
}

// The room a label's or button's text needs in its control, in its own font:
// a label's text as the label draws it, wrapped at its width (a word too
// long for a line makes it wider); a button's longest line without the
// access-key marks, plus a check box and its gap, or a push button's edges.
// Other controls need nothing.
SIZE TextRoomNeeded(const ChildWindow& child, std::uint32_t dpi) {
  const bool is_static = _wcsicmp(child.class_name.c_str(), L"Static") == 0;
  const bool is_button = _wcsicmp(child.class_name.c_str(), L"Button") == 0;
  if (!(is_static || is_button) || child.text.empty()) {
    return {};
  }
  const HDC dc = GetDC(child.window);
  const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(child.window, WM_GETFONT, 0, 0)));
  if (is_static) {
    RECT rect{0, 0, child.rect.right - child.rect.left, 0};
    const UINT flags = DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS |
                       ((child.style & SS_NOPREFIX) != 0 ? DT_NOPREFIX : 0) |
                       ((child.style & SS_EDITCONTROL) != 0 ? DT_EDITCONTROL : 0);
    DrawTextW(dc, child.text.c_str(), static_cast<int>(child.text.size()), &rect, flags);
    SelectObject(dc, old);
    ReleaseDC(child.window, dc);
    return {rect.right, rect.bottom};
  }
  LONG widest = 0;
  std::wstring line;
  const auto measure = [&] {
    SIZE size{};
    GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &size);
    widest = std::max(widest, size.cx);
    line.clear();
  };
  for (std::size_t i = 0; i < child.text.size(); ++i) {
    const wchar_t c = child.text[i];
    if (c == L'\n') {
      measure();
    } else if (c == L'&') {
      if (i + 1 < child.text.size() && child.text[i + 1] == L'&') {
        line += L'&';
        ++i;
      }
    } else {
      line += c;
    }
  }
  measure();
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(child.window, dc);
  const DWORD type = child.style & BS_TYPEMASK;
  const bool check_box = type == BS_AUTOCHECKBOX || type == BS_CHECKBOX;
  return {widest + MulDiv(check_box ? 13 + 4 : 2 * 3, static_cast<int>(dpi), 96), metrics.tmHeight};
}

void ExpectUsableLayout(HWND dialog, std::uint32_t dpi,
                        const std::vector<std::pair<int, int>>& side_by_side) {
  RECT client{};
  GetClientRect(dialog, &client);
  const std::vector<ChildWindow> children = ChildrenOf(dialog);
  const LONG message_font = MessageFontAt(dpi).height;
  ASSERT_NE(message_font, 0);
  EXPECT_LE(TitleRoomNeeded(dialog, dpi), client.right) << "the title cut";
  for (std::size_t i = 0; i < children.size(); ++i) {
    SCOPED_TRACE("control " + std::to_string(i));
    const RECT& r = children[i].rect;
    EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= client.right && r.bottom <= client.bottom)
        << "outside the client area";
    for (std::size_t j = i + 1; j < children.size(); ++j) {
      RECT both{};
      EXPECT_FALSE(IntersectRect(&both, &r, &children[j].rect)) << "overlaps control " << j;
    }
    EXPECT_EQ(FontOf(children[i].window).height, message_font);
    const SIZE room = TextRoomNeeded(children[i], dpi);
    EXPECT_LE(room.cx, r.right - r.left) << "text cut at the side";
    EXPECT_LE(room.cy, r.bottom - r.top) << "text cut at the bottom";
  }
  const int row_slack = MulDiv(4, static_cast<int>(dpi), 96);
  for (const auto& [left, right] : side_by_side) {
    SCOPED_TRACE("controls " + std::to_string(left) + " and " + std::to_string(right));
    ASSERT_LT(static_cast<std::size_t>(std::max(left, right)), children.size());
    const RECT& a = children[static_cast<std::size_t>(left)].rect;
    const RECT& b = children[static_cast<std::size_t>(right)].rect;
    EXPECT_LE(std::abs((a.top + a.bottom) - (b.top + b.bottom)) / 2, row_slack) << "not on one row";
    EXPECT_LE(a.right, b.left);
  }
}

std::vector<RECT> ChildRects(HWND dialog) {
  std::vector<RECT> rects;
  for (const ChildWindow& child : ChildrenOf(dialog)) {
    rects.push_back(child.rect);
  }
  return rects;
}

void ExpectScaledFrom96(HWND dialog, const std::vector<RECT>& earlier, std::uint32_t dpi) {
  const auto scaled = [dpi](LONG n) { return static_cast<LONG>(MulDiv(n, static_cast<int>(dpi), 96)); };
  const auto expect_near = [&](LONG now, LONG before) {
    const LONG want = scaled(before);
    EXPECT_NEAR(now, want, 2 + std::abs(want) / 20);
  };
  const std::vector<ChildWindow> children = ChildrenOf(dialog);
  ASSERT_EQ(children.size(), earlier.size());
  for (std::size_t i = 0; i < children.size(); ++i) {
    SCOPED_TRACE("control " + std::to_string(i));
    const RECT& now = children[i].rect;
    expect_near(now.left, earlier[i].left);
    expect_near(now.top, earlier[i].top);
    expect_near(now.right, earlier[i].right);
    if (_wcsicmp(children[i].class_name.c_str(), L"ComboBox") != 0 &&
        _wcsicmp(children[i].class_name.c_str(), L"ListBox") != 0) {
      expect_near(now.bottom, earlier[i].bottom);
    }
  }
}

std::vector<std::wstring> ListBoxLines(HWND list) {
  std::vector<std::wstring> lines;
  const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    wchar_t buffer[256] = {};
    SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buffer));
    lines.emplace_back(buffer);
  }
  return lines;
}

std::vector<std::wstring> ComboEntries(HWND combo) {
  std::vector<std::wstring> entries;
  const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    wchar_t buffer[256] = {};
    SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buffer));
    entries.emplace_back(buffer);
  }
  return entries;
}

FontInfo FontOf(HWND window) {
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
  LOGFONTW logfont{};
  if (font == nullptr || GetObjectW(font, sizeof logfont, &logfont) == 0) {
    return {};
  }
  return {logfont.lfFaceName, logfont.lfHeight};
}

namespace {

NONCLIENTMETRICSW NonClientMetricsAt(std::uint32_t dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  using Fn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
  const auto for_dpi =
      reinterpret_cast<Fn>(reinterpret_cast<void*>(User32Proc("SystemParametersInfoForDpi")));
  if (for_dpi == nullptr || !for_dpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) {
    return {};
  }
  return metrics;
}

}  // namespace

FontInfo MessageFontAt(std::uint32_t dpi) {
  const NONCLIENTMETRICSW metrics = NonClientMetricsAt(dpi);
  return {metrics.lfMessageFont.lfFaceName, metrics.lfMessageFont.lfHeight};
}

LONG TitleRoomNeeded(HWND window, std::uint32_t dpi) {
  const NONCLIENTMETRICSW metrics = NonClientMetricsAt(dpi);
  const HFONT caption = CreateFontIndirectW(&metrics.lfCaptionFont);
  const HDC dc = GetDC(window);
  const HGDIOBJ old = SelectObject(dc, caption);
  wchar_t title[256] = {};
  const int length = GetWindowTextW(window, title, 256);
  SIZE size{};
  GetTextExtentPoint32W(dc, title, length, &size);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  DeleteObject(caption);
  return size.cx + metrics.iCaptionWidth;
}

RECT WindowRectOf(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return rect;
}

RECT WorkArea() {
  RECT rect{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &rect, 0);
  return rect;
}

HWND CreateOwnerWindow(int x, int y, int width, int height, bool visible) {
  return CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPED | (visible ? WS_VISIBLE : 0), x, y, width,
                         height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

}  // namespace lumora::testing
