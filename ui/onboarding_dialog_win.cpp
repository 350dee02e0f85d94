#include "ui/onboarding_dialog_win.h"

#include <atomic>

#include "base/win32_util_win.h"
#include "net/addresses.h"

namespace lumora {

namespace {

constexpr DialogFrame kFrame{kOnboardingDialogClass, L"Lumora语音输入 - 欢迎", 470, 380};

constexpr wchar_t kWelcomeText[] =
    L"欢迎使用Lumora语音输入！\n\n"
    L"本程序接收同一 Wi-Fi 下手机发来的文字，并粘贴到当前焦点输入框。\n"
    L"请在下方选择 TCP 端口；安卓 APP 需要此端口以及下列 IP 之一。";
constexpr wchar_t kNoAddress[] = L"（无可用网络接口）";

// In design pixels, in reading order. The address list is for reading
// only: nothing in it can be selected.
// clang-format off
constexpr ControlDesign kWelcome{L"STATIC", 0, kWelcomeText, 16, 12, 420, 96, 0};
constexpr ControlDesign kAddressLabel{L"STATIC", 0, L"本机 IPv4 地址：", 16, 116, 200, 20, 0};
constexpr ControlDesign kAddressList{L"LISTBOX", kOnboardingAddressListId, L"", 16, 138, 420, 80,
                                     WS_BORDER | WS_VSCROLL | LBS_NOSEL};
constexpr ControlDesign kPortLabel{L"STATIC", 0, L"监听端口 (TCP)(&P)：", 16, 232, 140, 20, 0};
constexpr ControlDesign kPortEdit{L"EDIT", kOnboardingPortEditId, L"", 160, 230, 120, 22,
                                  WS_BORDER | ES_NUMBER | ES_AUTOHSCROLL};
constexpr ControlDesign kPressEnter{L"BUTTON", kOnboardingPressEnterId, L"提交时按 Enter(&E)", 16, 262, 260, 22,
                                    BS_AUTOCHECKBOX};
constexpr ControlDesign kStart{L"BUTTON", kOnboardingStartId, L"开始监听", 280, 298, 150, 30, BS_DEFPUSHBUTTON};
constexpr ControlDesign kSkip{L"BUTTON", kOnboardingSkipId, L"跳过(&K)", 190, 298, 80, 30, BS_PUSHBUTTON};
// clang-format on

std::atomic<detail::AddressQuery> g_address_query{nullptr};

std::vector<std::string> Addresses() {
  const detail::AddressQuery query = g_address_query.load();
  return query != nullptr ? query() : GetLocalIPv4Addresses();
}

}  // namespace

OnboardingDialog::OnboardingDialog(HINSTANCE instance, HWND owner, const AppConfig& current)
    : ConfigDialog(instance, owner, current, {kOnboardingPortEditId, kOnboardingStartId, kOnboardingSkipId}) {
}

bool OnboardingDialog::Run(HWND owner, HINSTANCE instance, const AppConfig& current, AppConfig* result) {
  static std::atomic<bool> registered{false};
  OnboardingDialog dialog(instance, owner, current);
  return dialog.RunModal(kFrame, registered, result);
}

void OnboardingDialog::CreateControls(std::uint32_t dpi, HFONT font) {
  const HWND dialog = window();

  CreateDialogControl(dialog, instance(), kWelcome, dpi, font);
  CreateDialogControl(dialog, instance(), kAddressLabel, dpi, font);
  HWND list = CreateDialogControl(dialog, instance(), kAddressList, dpi, font);
  // Read once: the user types one of these into the phone while the dialog
  // is open.
  const std::vector<std::string> addresses = Addresses();
  if (addresses.empty()) {
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kNoAddress));
  }
  for (const std::string& address : addresses) {
    const std::wstring line = Utf8ToWide(address);
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
  }
  CreateDialogControl(dialog, instance(), kPortLabel, dpi, font);
  HWND port = CreateDialogControl(dialog, instance(), kPortEdit, dpi, font);
  SetWindowTextW(port, std::to_wstring(working().listen_port).c_str());
  HWND press_enter = CreateDialogControl(dialog, instance(), kPressEnter, dpi, font);
  SendMessageW(press_enter, BM_SETCHECK, working().press_enter_on_commit ? BST_CHECKED : BST_UNCHECKED, 0);
  // Left to right, as Tab goes.
  CreateDialogControl(dialog, instance(), kSkip, dpi, font);
  CreateDialogControl(dialog, instance(), kStart, dpi, font);
}

void OnboardingDialog::TakeControls(std::int32_t port, AppConfig& working) {
  // Only these two: the start button confirms the port and the Enter choice;
  // the host starts the server after the dialog, whichever button closed it.
  working.listen_port = port;
  working.press_enter_on_commit = IsChecked(GetDlgItem(window(), kOnboardingPressEnterId));
}

namespace detail {
void SetAddressQueryForTest(AddressQuery query) { g_address_query = query; }
}  // namespace detail

}  // namespace lumora
