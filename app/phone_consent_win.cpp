// Phones that ask to type: the consent flow's prompt, server, remembered
// phones and notices on Windows, and what the tray tells about the link.

#include <string>
#include <utility>

#include "app/win32_app_win.h"
#include "base/win32_util_win.h"
#include "ui/connection_dialog_win.h"
#include "ui/phone_prompt_win.h"

namespace lumora {

PhoneConsentHost Win32App::MakeConsentHost() {
  PhoneConsentHost host;
  host.show_prompt = [this](const PhoneHello& hello,
                            std::function<void(bool allow)> decided) -> std::unique_ptr<ConsentPrompt> {
    return PhonePrompt::Show(window(), instance_, Utf8ToWide(hello.client),
                             Utf8ToWide(IdentifyPhone(hello).address), std::move(decided));
  };
  host.answer_server = [this](std::uint64_t id, bool allow) {
    return server_ && server_->AnswerHeldPhone(id, allow);
  };
  host.remember = [this](const PhoneHello& hello) {
    RememberPhone(config_.known_phones, IdentifyPhone(hello));
    SaveAppConfig(config_);
    ApplyPhoneSettings();
  };
  host.notice = [this](const Notice& notice) { ShowTrayNotice(notice); };
  return host;
}

void Win32App::ApplyPhoneSettings() {
  gate_.Configure(config_);
  if (server_) {
    server_->ReviewActivePhone();
  }
}

void Win32App::OnPhoneActive(const PhoneHello& hello, bool took_over) {
  consent_.OnPhoneActive(hello, took_over);
  connection_history_.NoteConnected();
  RefreshConnectionBox(kRefreshHistory);
}

void Win32App::ShowLinkedPhone() {
  SetTrayPhone(consent_.LinkedPhoneText(coordinator_ ? coordinator_->client_peer() : std::string()));
}

}  // namespace lumora
