// Phones that ask to type: the prompt for a phone the user has not allowed,
// the remembered phones, and what the tray tells about the link.

#include <string>
#include <utility>

#include "log/log.h"
#include "app/win32_app_win.h"
#include "base/win32_util_win.h"
#include "ui/phone_text_win.h"

namespace lumora {
namespace {

// "name（address）" for people, from what the phone said at its hello.
std::wstring PhoneText(const PhoneHello& hello) {
  return PhoneDisplayLabel(Utf8ToWide(hello.client), Utf8ToWide(IdentifyPhone(hello).address));
}

}  // namespace

void Win32App::OnPhoneHeld(const PhoneHello& hello) {
  // A newer phone takes the place of one that still waited; the server has
  // sent that one away.
  prompt_.reset();
  prompted_ = hello;
  Log(LogLevel::Warn, "APP", "Win32App: asking whether " + hello.peer + " may type");
  const std::wstring address = Utf8ToWide(IdentifyPhone(hello).address);
  prompt_ = PhonePrompt::Show(window(), instance_, Utf8ToWide(hello.client), address,
                              [this](bool allow) { AnswerPhonePrompt(allow); });
  if (!prompt_) {
    // Nobody can be asked: the phone is not allowed.
    AnswerPhonePrompt(false);
  }
}

void Win32App::AnswerPhonePrompt(bool allow) {
  const PhoneHello hello = std::exchange(prompted_, PhoneHello{});
  prompt_.reset();
  if (hello.id == 0 || !server_ || !server_->AnswerHeldPhone(hello.id, allow)) {
    return;  // the phone left, or its server went, while the user thought
  }
  if (!allow) {
    ShowTrayNotice(L"已拒绝手机", PhoneText(hello) + L" 不能向这台电脑输入文字。");
    return;
  }
  RememberPhone(config_.known_phones, IdentifyPhone(hello));
  SaveAppConfig(config_);
  gate_.Configure(config_);
  just_allowed_ = hello.id;
  ShowTrayNotice(L"已允许手机", PhoneText(hello) + L" 现在可以输入文字，下次连接时不再询问。");
}

void Win32App::OnHeldPhoneGone(std::uint64_t id) {
  if (id == 0 || prompted_.id != id) {
    return;
  }
  const PhoneHello hello = std::exchange(prompted_, PhoneHello{});
  prompt_.reset();
  ShowTrayNotice(L"已拒绝手机", PhoneText(hello) + L" 没有得到允许，已断开。");
}

void Win32App::OnPhoneActive(const PhoneHello& hello, bool took_over) {
  active_phone_ = hello;
  // A phone the user has just allowed was announced already.
  if (took_over && hello.id != just_allowed_) {
    ShowTrayNotice(L"手机已接管", PhoneText(hello) + L" 接替了之前连接的手机。");
  }
  just_allowed_ = 0;
}

void Win32App::ShowLinkedPhone() {
  const std::string peer = coordinator_ ? coordinator_->client_peer() : std::string();
  if (peer.empty()) {
    SetTrayPhone(L"");
  } else if (active_phone_.peer == peer) {
    SetTrayPhone(PhoneText(active_phone_));
  } else {
    SetTrayPhone(PhoneDisplayLabel(L"", Utf8ToWide(peer)));
  }
}

}  // namespace lumora
