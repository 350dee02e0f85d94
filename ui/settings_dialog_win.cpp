#include "ui/settings_dialog_win.h"

#include <atomic>
#include <string>
#include <utility>

#include "base/display_text.h"
#include "base/win32_util_win.h"

namespace lumora {

namespace {

constexpr DialogFrame kSettingsFrame{kSettingsDialogClass, L"Lumora语音输入 - 设置"};

// The value at the list's selection, or `fallback` without one.
template <typename Enum>
Enum SelectedValue(HWND list, std::int32_t count, Enum fallback) {
  const LRESULT index = SendMessageW(list, CB_GETCURSEL, 0, 0);
  return index >= 0 && index < count ? static_cast<Enum>(index) : fallback;
}

}  // namespace

SettingsDialog::SettingsDialog(HINSTANCE instance, HWND owner, const AppConfig& current, PortTrial try_port)
    : ConfigDialog(instance, owner, current, {kSettingsPortEditId, kSettingsOkId, kSettingsCancelId},
                   SettingsForm(), std::move(try_port)),
      phones_(current.known_phones) {}

bool SettingsDialog::Run(HWND owner, HINSTANCE instance, const AppConfig& current, AppConfig* result,
                         PortTrial try_port) {
  static std::atomic<bool> registered{false};
  SettingsDialog dialog(instance, owner, current, std::move(try_port));
  return dialog.RunModal(kSettingsFrame, registered, result);
}

void SettingsDialog::FillControls() {
  const HWND dialog = window();
  const AppConfig& record = working();
  const auto check = [dialog](int id, bool on) {
    SendMessageW(GetDlgItem(dialog, id), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
  };
  SetWindowTextW(GetDlgItem(dialog, kSettingsPortEditId), std::to_wstring(record.listen_port).c_str());
  check(kSettingsPressEnterId, record.press_enter_on_commit);
  check(kSettingsAutoStartId, record.auto_start);
  check(kSettingsConfirmPhonesId, record.confirm_new_phones);
  // The lists hold the values in enumeration order: an index is the value.
  SendMessageW(GetDlgItem(dialog, kSettingsThemeListId), CB_SETCURSEL,
               static_cast<WPARAM>(static_cast<std::int32_t>(record.overlay_theme_color)), 0);
  SendMessageW(GetDlgItem(dialog, kSettingsPositionListId), CB_SETCURSEL,
               static_cast<WPARAM>(static_cast<std::int32_t>(record.overlay_position)), 0);
  HWND list = GetDlgItem(dialog, kSettingsPhoneListId);
  for (const KnownPhone& phone : phones_) {
    const std::wstring label = Utf8ToWide(PhoneDisplayLabel(phone.name, phone.address));
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label.c_str()));
  }
}

bool SettingsDialog::HandleCommand(int id, int code) {
  if (id == kSettingsPhoneListId) {
    if (code == LBN_SELCHANGE) {
      UpdateForgetButton();
    }
    return true;
  }
  if (id == kSettingsForgetPhoneId) {
    if (code == BN_CLICKED) {
      ForgetSelectedPhone();
    }
    return true;
  }
  return false;
}

void SettingsDialog::ForgetSelectedPhone() {
  HWND list = GetDlgItem(window(), kSettingsPhoneListId);
  const LRESULT row = SendMessageW(list, LB_GETCURSEL, 0, 0);
  if (row < 0 || static_cast<std::size_t>(row) >= phones_.size()) {
    return;
  }
  phones_.erase(phones_.begin() + row);
  SendMessageW(list, LB_DELETESTRING, static_cast<WPARAM>(row), 0);
  // The next phone has moved up into the row: selecting the row again lets
  // the user forget several in turn. After the last row nothing is selected.
  const bool next = static_cast<std::size_t>(row) < phones_.size();
  SendMessageW(list, LB_SETCURSEL, next ? static_cast<WPARAM>(row) : static_cast<WPARAM>(-1), 0);
  UpdateForgetButton();
}

void SettingsDialog::UpdateForgetButton() {
  HWND list = GetDlgItem(window(), kSettingsPhoneListId);
  HWND forget = GetDlgItem(window(), kSettingsForgetPhoneId);
  const bool selected = SendMessageW(list, LB_GETCURSEL, 0, 0) >= 0;
  // A disabled window keeps the focus it had, and keys would go nowhere: the
  // list takes it.
  if (!selected && GetFocus() == forget) {
    SetFocus(list);
  }
  EnableWindow(forget, selected ? TRUE : FALSE);
}

void SettingsDialog::TakeControls(std::int32_t port, AppConfig& working) {
  const HWND dialog = window();
  working.listen_port = port;
  working.press_enter_on_commit = IsChecked(GetDlgItem(dialog, kSettingsPressEnterId));
  working.auto_start = IsChecked(GetDlgItem(dialog, kSettingsAutoStartId));
  working.overlay_theme_color = SelectedValue(GetDlgItem(dialog, kSettingsThemeListId),
                                              kOverlayThemeColorCount, OverlayThemeColor::White);
  working.overlay_position = SelectedValue(GetDlgItem(dialog, kSettingsPositionListId), kOverlayPositionCount,
                                           OverlayPosition::Center);
  working.confirm_new_phones = IsChecked(GetDlgItem(dialog, kSettingsConfirmPhonesId));
  working.known_phones = phones_;
}

}  // namespace lumora
