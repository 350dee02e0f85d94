#include "ui/settings_dialog_win.h"

#include <atomic>
#include <string>

#include "base/win32_util_win.h"

namespace lumora {

namespace {

constexpr DialogFrame kFrame{kSettingsDialogClass, L"Lumora语音输入 - 设置", 380, 270};

// In design pixels. None of the controls is a tab stop: the dialog is made
// for the mouse. A drop-down list's height is that of its list when dropped.
// clang-format off
constexpr ControlDesign kPortLabel{L"STATIC", 0, L"监听端口 (TCP)：", 16, 18, 160, 20, 0};
constexpr ControlDesign kPortEdit{L"EDIT", kSettingsPortEditId, L"", 180, 16, 120, 22,
                                  WS_BORDER | ES_NUMBER | ES_AUTOHSCROLL};
constexpr ControlDesign kPressEnter{L"BUTTON", kSettingsPressEnterId, L"提交时按 Enter", 16, 50, 280, 22,
                                    BS_AUTOCHECKBOX};
constexpr ControlDesign kAutoStart{L"BUTTON", kSettingsAutoStartId, L"开机自启动", 16, 78, 280, 22,
                                   BS_AUTOCHECKBOX};
constexpr ControlDesign kThemeLabel{L"STATIC", 0, L"主题颜色：", 16, 114, 160, 20, 0};
constexpr ControlDesign kThemeList{L"COMBOBOX", kSettingsThemeListId, L"", 180, 112, 160, 220,
                                   CBS_DROPDOWNLIST | WS_VSCROLL};
constexpr ControlDesign kPositionLabel{L"STATIC", 0, L"悬浮窗位置：", 16, 150, 160, 20, 0};
constexpr ControlDesign kPositionList{L"COMBOBOX", kSettingsPositionListId, L"", 180, 148, 160, 220,
                                      CBS_DROPDOWNLIST | WS_VSCROLL};
constexpr ControlDesign kOk{L"BUTTON", kSettingsOkId, L"确定", 180, 198, 70, 28, BS_DEFPUSHBUTTON};
constexpr ControlDesign kCancel{L"BUTTON", kSettingsCancelId, L"取消", 260, 198, 80, 28, BS_PUSHBUTTON};
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
    : ConfigDialog(instance, owner, current, {kSettingsPortEditId, kSettingsOkId, kSettingsCancelId}) {}

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
  CreateDialogControl(dialog, instance(), kOk, dpi, font);
  CreateDialogControl(dialog, instance(), kCancel, dpi, font);
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
}

}  // namespace lumora
