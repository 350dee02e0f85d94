#include "ui/onboarding_dialog_win.h"

#include <atomic>
#include <utility>

#include "base/win32_util_win.h"
#include "net/addresses.h"

namespace lumora {

namespace {

constexpr DialogFrame kFrame{kOnboardingDialogClass, L"Lumora语音输入 - 欢迎"};

constexpr wchar_t kNoAddress[] = L"（无可用网络接口）";

std::atomic<detail::AddressQuery> g_address_query{nullptr};

std::vector<std::string> Addresses() {
  const detail::AddressQuery query = g_address_query.load();
  return query != nullptr ? query() : GetLocalIPv4Addresses();
}

}  // namespace

OnboardingDialog::OnboardingDialog(HINSTANCE instance, HWND owner, const AppConfig& current,
                                   PortTrial try_port)
    : ConfigDialog(instance, owner, current, {kOnboardingPortEditId, kOnboardingStartId, kOnboardingSkipId},
                   WelcomeForm(), std::move(try_port)) {}

bool OnboardingDialog::Run(HWND owner, HINSTANCE instance, const AppConfig& current, AppConfig* result,
                           PortTrial try_port) {
  static std::atomic<bool> registered{false};
  OnboardingDialog dialog(instance, owner, current, std::move(try_port));
  return dialog.RunModal(kFrame, registered, result);
}

void OnboardingDialog::FillControls() {
  const HWND dialog = window();
  HWND list = GetDlgItem(dialog, kOnboardingAddressListId);
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
  SetWindowTextW(GetDlgItem(dialog, kOnboardingPortEditId), std::to_wstring(working().listen_port).c_str());
  SendMessageW(GetDlgItem(dialog, kOnboardingPressEnterId), BM_SETCHECK,
               working().press_enter_on_commit ? BST_CHECKED : BST_UNCHECKED, 0);
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
