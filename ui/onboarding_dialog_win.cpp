#include "ui/onboarding_dialog_win.h"

#include <atomic>
#include <utility>

#include "ui/connection_dialog_win.h"
#include "ui/port_text.h"

namespace lumora {

namespace {

constexpr DialogFrame kOnboardingFrame{kOnboardingDialogClass, L"Lumora语音输入 - 欢迎"};

// The server starts after the dialog, on the port chosen in it: the check
// is of what will be, the firewall and the network.
ConnectionView LookAtWelcome(const AppConfig& config) {
  return LookAtConnection(config.listen_port, true, ProgramPathUtf8());
}

}  // namespace

OnboardingDialog::OnboardingDialog(HINSTANCE instance, HWND owner, const AppConfig& current,
                                   PortTrial try_port, ConnectionView view)
    : ConfigDialog(instance, owner, current, {kOnboardingPortEditId, kOnboardingStartId, kOnboardingSkipId},
                   WelcomeForm(view.diagnosis), std::move(try_port)),
      view_(std::move(view)) {}

bool OnboardingDialog::Run(HWND owner, HINSTANCE instance, const AppConfig& current, AppConfig* result,
                           PortTrial try_port) {
  static std::atomic<bool> registered{false};
  OnboardingDialog dialog(instance, owner, current, std::move(try_port), LookAtWelcome(current));
  return dialog.RunModal(kOnboardingFrame, registered, result);
}

void OnboardingDialog::Show(const ConnectionView& view) {
  std::int32_t port = 0;
  HWND edit = GetDlgItem(window(), kOnboardingPortEditId);
  const bool typed = GetWindowTextLengthW(edit) > 0 && ParsePortText(edit, port) && IsListenPort(port);
  ShowAddressLines(GetDlgItem(window(), kOnboardingAddressListId),
                   typed ? AddressLines(view.ranked, port) : view.addresses);
  controls().SetText(kOnboardingDiagnosisId, view.diagnosis);
  EnableFixButtons(window(), kOnboardingAllowPhoneId, kOnboardingNetworkSettingsId, view);
}

void OnboardingDialog::Recheck() {
  view_ = LookAtWelcome(working());
  Show(view_);
}

bool OnboardingDialog::HandleCommand(int id, int code) {
  if (id == kOnboardingPortEditId && code == EN_CHANGE) {
    // The lines name the port: they follow what the user types, as long as
    // it is a port the dialog would take.
    std::int32_t port = 0;
    if (ParsePortText(GetDlgItem(window(), kOnboardingPortEditId), port) && IsListenPort(port)) {
      ShowAddressLines(GetDlgItem(window(), kOnboardingAddressListId), AddressLines(view_.ranked, port));
    }
    return false;
  }
  if (id == kOnboardingAllowPhoneId) {
    AddFirewallRuleForPhones(window());
    Recheck();
    return true;
  }
  if (id == kOnboardingNetworkSettingsId) {
    recheck_on_return_ = true;
    OpenNetworkSettings(window());
    return true;
  }
  return false;
}

void OnboardingDialog::Activated() {
  if (recheck_on_return_) {
    recheck_on_return_ = false;
    Recheck();
  }
}

void OnboardingDialog::FillControls() {
  const HWND dialog = window();
  Show(view_);
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

}  // namespace lumora
