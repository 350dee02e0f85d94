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
    : instance_(instance) {
  state_.initial = current;
  state_.working = current;
  state_.owner = owner;
}

bool SettingsDialog::Run(HWND owner, HINSTANCE instance, const AppConfig& current, AppConfig* result) {
  static std::atomic<bool> registered{false};
  RegisterDialogClass(registered, instance, kSettingsDialogClass, &DialogWindowProc<SettingsDialog>);
  SettingsDialog dialog(instance, owner, current);
  if (!RunDialogFrame(kFrame, owner, instance, &dialog)) {
    return false;
  }
  if (!dialog.state_.accepted || result == nullptr) {
    return false;
  }
  *result = dialog.state_.working;
  return true;
}

void SettingsDialog::CreateControls() {
  const std::uint32_t dpi = DialogDpi(window_);
  state_.font.Create(dpi);
  const HFONT font = state_.font.get();
  const AppConfig& working = state_.working;

  CreateDialogControl(window_, instance_, kPortLabel, dpi, font);
  HWND port = CreateDialogControl(window_, instance_, kPortEdit, dpi, font);
  SetWindowTextW(port, std::to_wstring(working.listen_port).c_str());
  HWND press_enter = CreateDialogControl(window_, instance_, kPressEnter, dpi, font);
  SendMessageW(press_enter, BM_SETCHECK, working.press_enter_on_commit ? BST_CHECKED : BST_UNCHECKED, 0);
  HWND auto_start = CreateDialogControl(window_, instance_, kAutoStart, dpi, font);
  SendMessageW(auto_start, BM_SETCHECK, working.auto_start ? BST_CHECKED : BST_UNCHECKED, 0);
  CreateDialogControl(window_, instance_, kThemeLabel, dpi, font);
  FillList(CreateDialogControl(window_, instance_, kThemeList, dpi, font), kOverlayThemeColorCount,
           working.overlay_theme_color, ThemeColorDisplayName);
  CreateDialogControl(window_, instance_, kPositionLabel, dpi, font);
  FillList(CreateDialogControl(window_, instance_, kPositionList, dpi, font), kOverlayPositionCount,
           working.overlay_position, PositionDisplayName);
  CreateDialogControl(window_, instance_, kOk, dpi, font);
  CreateDialogControl(window_, instance_, kCancel, dpi, font);
}

void SettingsDialog::Confirm() {
  std::int32_t port = 0;
  if (!ReadListenPortOrWarn(window_, GetDlgItem(window_, kSettingsPortEditId), port)) {
    return;  // the dialog stays as the user left it
  }
  AppConfig& working = state_.working;
  working.listen_port = port;
  working.press_enter_on_commit = IsChecked(GetDlgItem(window_, kSettingsPressEnterId));
  working.auto_start = IsChecked(GetDlgItem(window_, kSettingsAutoStartId));
  working.overlay_theme_color = SelectedValue(GetDlgItem(window_, kSettingsThemeListId),
                                              kOverlayThemeColorCount, OverlayThemeColor::White);
  working.overlay_position = SelectedValue(GetDlgItem(window_, kSettingsPositionListId),
                                           kOverlayPositionCount, OverlayPosition::Center);
  state_.accepted = true;
  DestroyWindow(window_);
}

void SettingsDialog::Close() {
  state_.accepted = false;
  DestroyWindow(window_);
}

LRESULT SettingsDialog::HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      window_ = window;
      CreateControls();
      return 0;
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case kSettingsOkId:
          Confirm();
          break;
        case kSettingsCancelId:
        case IDCANCEL:  // Esc, through IsDialogMessageW
          Close();
          break;
        default:
          break;
      }
      return 0;
    case DM_GETDEFID:
      // Enter, through IsDialogMessageW, presses the default button as it
      // does in any Windows dialog.
      return MAKELRESULT(kSettingsOkId, DC_HASDEFID);
    case WM_CLOSE:
      Close();
      return 0;
    case WM_DESTROY:
      state_.font.Reset();
      ReleaseOwner(state_.owner);
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

}  // namespace lumora
