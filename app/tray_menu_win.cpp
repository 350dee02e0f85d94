#include "app/tray_menu_win.h"

#include <utility>

#include "base/win32_util_win.h"

namespace lumora {

namespace {

// Hands `submenu` to `menu` once it is attached; until then it is still the
// wrapper's to destroy.
void AppendSubmenu(HMENU menu, ScopedMenu submenu, const wchar_t* text) {
  if (AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(submenu.get()), text)) {
    submenu.Release();
  }
}

void AppendItems(HMENU menu, const std::vector<TrayMenuItem>& items) {
  for (const TrayMenuItem& item : items) {
    const std::wstring label = Utf8ToWide(item.label);
    if (item.separator) {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    } else if (!item.submenu.empty()) {
      ScopedMenu submenu(CreatePopupMenu());
      AppendItems(submenu.get(), item.submenu);
      AppendSubmenu(menu, std::move(submenu), label.c_str());
    } else {
      UINT flags = MF_STRING;
      if (item.checkable && item.checked) {
        flags |= MF_CHECKED;
      }
      if (!item.enabled) {
        flags |= MF_GRAYED;
      }
      AppendMenuW(menu, flags, item.command, label.c_str());
      if (item.is_default) {
        SetMenuDefaultItem(menu, item.command, FALSE);
      }
    }
  }
}

}  // namespace

ScopedMenu BuildTrayMenu(const std::vector<TrayMenuItem>& items) {
  ScopedMenu menu(CreatePopupMenu());
  AppendItems(menu.get(), items);
  return menu;
}

}  // namespace lumora
