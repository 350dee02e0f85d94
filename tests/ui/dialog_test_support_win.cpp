#include "tests/ui/dialog_test_support_win.h"

#include <gtest/gtest.h>

#include "overlay/dpi_win.h"

namespace lumora::testing {

namespace {
thread_local CreationLog* g_creation_log = nullptr;
}  // namespace

CreationLog::CreationLog() {
  g_creation_log = this;
  hook_ = SetWindowsHookExW(WH_CBT, &CreationLog::Hook, nullptr, GetCurrentThreadId());
}

CreationLog::~CreationLog() {
  if (hook_ != nullptr) {
    UnhookWindowsHookEx(hook_);
  }
  g_creation_log = nullptr;
}

const CreationLog::Request* CreationLog::Find(HWND window) const {
  for (const Request& request : requests_) {
    if (request.window == window) {
      return &request;
    }
  }
  return nullptr;
}

LRESULT CALLBACK CreationLog::Hook(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_CREATEWND && g_creation_log != nullptr) {
    const CREATESTRUCTW* create = reinterpret_cast<CBT_CREATEWNDW*>(lparam)->lpcs;
    g_creation_log->requests_.push_back(
        {reinterpret_cast<HWND>(wparam), static_cast<DWORD>(create->style), create->cy});
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

std::vector<ChildWindow> ChildrenOf(HWND dialog) {
  std::vector<ChildWindow> children;
  // New children go below their older siblings: the first child in z-order
  // is the first created.
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    ChildWindow found{child, ClassOf(child), GetDlgCtrlID(child), WindowText(child), {}, 0, 0, 0, -1};
    GetWindowRect(child, &found.rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&found.rect), 2);
    found.style = static_cast<DWORD>(GetWindowLongPtrW(child, GWL_STYLE));
    found.font_height = FontOf(child).height;
    if (const CreationLog::Request* request =
            g_creation_log != nullptr ? g_creation_log->Find(child) : nullptr) {
      found.requested_style = request->style;
      found.requested_height = request->height;
    }
    children.push_back(found);
  }
  return children;
}

void ExpectControls(HWND dialog, const std::vector<WantControl>& want, std::uint32_t dpi) {
  const auto scaled = [dpi](int n) { return MulDiv(n, static_cast<int>(dpi), 96); };
  const std::vector<ChildWindow> children = ChildrenOf(dialog);
  ASSERT_EQ(children.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE("control " + std::to_string(i));
    const ChildWindow& got = children[i];
    const WantControl& w = want[i];
    EXPECT_EQ(_wcsicmp(got.class_name.c_str(), w.class_name), 0)
        << "a " << got.class_name.size() << "-letter class";
    EXPECT_EQ(got.id, w.id);
    if (w.text != nullptr) {
      EXPECT_EQ(got.text, w.text);
    }
    EXPECT_EQ(got.rect.left, scaled(w.x));
    EXPECT_EQ(got.rect.top, scaled(w.y));
    EXPECT_EQ(got.rect.right - got.rect.left, scaled(w.width));
    EXPECT_EQ(got.requested_height, scaled(w.height));
    const std::wstring kind = w.class_name;
    if (kind != L"ComboBox" && kind != L"ListBox") {
      EXPECT_EQ(got.rect.bottom - got.rect.top, scaled(w.height));
    }
    EXPECT_EQ(got.requested_style & (WS_CHILD | WS_VISIBLE), static_cast<DWORD>(WS_CHILD | WS_VISIBLE));
    EXPECT_EQ(got.requested_style & WS_TABSTOP, 0u) << "a tab stop";
    if (kind == L"Button") {
      // Button kinds are a number in the low bits, not flags.
      EXPECT_EQ(got.requested_style & BS_TYPEMASK, w.style);
    } else {
      EXPECT_EQ(got.requested_style & w.style, w.style);
    }
    EXPECT_EQ(got.font_height, children[0].font_height) << "another font";
    EXPECT_NE(got.font_height, 0) << "no font";
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

FontInfo MessageFontAt(std::uint32_t dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  using Fn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
  const auto for_dpi =
      reinterpret_cast<Fn>(reinterpret_cast<void*>(User32Proc("SystemParametersInfoForDpi")));
  if (for_dpi == nullptr || !for_dpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) {
    return {};
  }
  return {metrics.lfMessageFont.lfFaceName, metrics.lfMessageFont.lfHeight};
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
