#include "ui/settings_dialog_win.h"

#include <atomic>
#include <string>

#include "base/win32_util_win.h"
#include "ui/phone_text_win.h"

namespace lumora {

namespace {

constexpr DialogFrame kFrame{kSettingsDialogClass, L"Lumora语音输入 - 设置", 380, 398};

// In design pixels, in reading order, which is also the order of Tab. A
// drop-down list's height is that of its list when dropped.
// clang-format off
constexpr ControlDesign kPortLabel{L"STATIC", 0, L"监听端口 (TCP)(&P)：", 16, 18, 160, 20, 0};
constexpr ControlDesign kPortEdit{L"EDIT", kSettingsPortEditId, L"", 180, 16, 120, 22,
                                  WS_BORDER | ES_NUMBER | ES_AUTOHSCROLL};
constexpr ControlDesign kPressEnter{L"BUTTON", kSettingsPressEnterId, L"提交时按 Enter(&E)", 16, 50, 280, 22,
                                    BS_AUTOCHECKBOX};
constexpr ControlDesign kAutoStart{L"BUTTON", kSettingsAutoStartId, L"开机自启动(&S)", 16, 78, 280, 22,
                                   BS_AUTOCHECKBOX};
constexpr ControlDesign kThemeLabel{L"STATIC", 0, L"主题颜色(&T)：", 16, 114, 160, 20, 0};
constexpr ControlDesign kThemeList{L"COMBOBOX", kSettingsThemeListId, L"", 180, 112, 160, 220,
                                   CBS_DROPDOWNLIST | WS_VSCROLL};
constexpr ControlDesign kPositionLabel{L"STATIC", 0, L"悬浮窗位置(&W)：", 16, 150, 160, 20, 0};
constexpr ControlDesign kPositionList{L"COMBOBOX", kSettingsPositionListId, L"", 180, 148, 160, 220,
                                      CBS_DROPDOWNLIST | WS_VSCROLL};
constexpr ControlDesign kConfirmPhones{L"BUTTON", kSettingsConfirmPhonesId, L"新手机连接前先询问我(&A)", 16, 184, 280,
                                       22, BS_AUTOCHECKBOX};
constexpr ControlDesign kPhoneLabel{L"STATIC", 0, L"已允许的手机(&L)：", 16, 214, 160, 20, 0};
// Four rows; unsorted, so that a row is the phone at that place in the record.
constexpr ControlDesign kPhoneList{L"LISTBOX", kSettingsPhoneListId, L"", 16, 236, 244, 76,
                                   WS_BORDER | WS_VSCROLL | LBS_NOTIFY};
// Nothing is selected at first.
constexpr ControlDesign kForgetPhone{L"BUTTON", kSettingsForgetPhoneId, L"忘记(&F)", 268, 236, 72, 28,
                                     BS_PUSHBUTTON | WS_DISABLED};
constexpr ControlDesign kOk{L"BUTTON", kSettingsOkId, L"确定", 180, 326, 70, 28, BS_DEFPUSHBUTTON};
constexpr ControlDesign kCancel{L"BUTTON", kSettingsCancelId, L"取消", 260, 326, 80, 28, BS_PUSHBUTTON};
// clang-format on

// Fills a drop-down list with `count` names in enumeration order, so that a
// list index is the value, and selects `current`.
template <typename Enum, typename NameOf>
void FillList(HWND list, std::int32_t count, Enum current, NameOf name_of) {
  for (std::int32_t value = 0; value < count; ++value) {
    const std::wstring name = Utf8ToWide(name_of(static_cast<Enum>(value)));
    SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
  }
  SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(static_cast<std::int32_t>(current)), 0);
}

// The value at the list's selection, or `fallback` without one.
template <typename Enum>
Enum SelectedValue(HWND list, std::int32_t count, Enum fallback) {
  const LRESULT index = SendMessageW(list, CB_GETCURSEL, 0, 0);
  return index >= 0 && index < count ? static_cast<Enum>(index) : fallback;
}

}  // namespace

SettingsDialog::SettingsDialog(HINSTANCE instance, HWND owner, const AppConfig& current)
    : ConfigDialog(instance, owner, current, {kSettingsPortEditId, kSettingsOkId, kSettingsCancelId}),
      phones_(current.known_phones) {}

bool SettingsDialog::Run(HWND owner, HINSTANCE instance, const AppConfig& current, AppConfig* result) {
  static std::atomic<bool> registered{false};
  SettingsDialog dialog(instance, owner, current);
  return dialog.RunModal(kFrame, registered, result);
}

void SettingsDialog::CreateControls(std::uint32_t dpi, HFONT font) {
  const HWND dialog = window();
  const AppConfig& record = working();

  CreateDialogControl(dialog, instance(), kPortLabel, dpi, font);
  HWND port = CreateDialogControl(dialog, instance(), kPortEdit, dpi, font);
  SetWindowTextW(port, std::to_wstring(record.listen_port).c_str());
  HWND press_enter = CreateDialogControl(dialog, instance(), kPressEnter, dpi, font);
  SendMessageW(press_enter, BM_SETCHECK, record.press_enter_on_commit ? BST_CHECKED : BST_UNCHECKED, 0);
  HWND auto_start = CreateDialogControl(dialog, instance(), kAutoStart, dpi, font);
  SendMessageW(auto_start, BM_SETCHECK, record.auto_start ? BST_CHECKED : BST_UNCHECKED, 0);
  CreateDialogControl(dialog, instance(), kThemeLabel, dpi, font);
  FillList(CreateDialogControl(dialog, instance(), kThemeList, dpi, font), kOverlayThemeColorCount,
           record.overlay_theme_color, ThemeColorDisplayName);
  CreateDialogControl(dialog, instance(), kPositionLabel, dpi, font);
  FillList(CreateDialogControl(dialog, instance(), kPositionList, dpi, font), kOverlayPositionCount,
           record.overlay_position, PositionDisplayName);
  HWND confirm = CreateDialogControl(dialog, instance(), kConfirmPhones, dpi, font);
  SendMessageW(confirm, BM_SETCHECK, record.confirm_new_phones ? BST_CHECKED : BST_UNCHECKED, 0);
  CreateDialogControl(dialog, instance(), kPhoneLabel, dpi, font);
  HWND list = CreateDialogControl(dialog, instance(), kPhoneList, dpi, font);
  for (const KnownPhone& phone : phones_) {
    const std::wstring label = PhoneDisplayLabel(Utf8ToWide(phone.name), Utf8ToWide(phone.address));
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label.c_str()));
  }
  CreateDialogControl(dialog, instance(), kForgetPhone, dpi, font);
  CreateDialogControl(dialog, instance(), kOk, dpi, font);
  CreateDialogControl(dialog, instance(), kCancel, dpi, font);
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
