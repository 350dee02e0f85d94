// Phones that ask to type: the prompt for a phone the user has not allowed,
// the remembered phones, and what the tray tells about the link.

#include <deque>
#include <string>
#include <utility>

#include "app/win32_app_win.h"
#include "base/win32_util_win.h"
#include "log/log.h"
#include "ui/connection_dialog_win.h"
#include "ui/phone_text_win.h"

namespace lumora {
namespace {

// "name（address）" for people, from what the phone said at its hello.
std::wstring PhoneText(const PhoneHello& hello) {
  return PhoneDisplayLabel(Utf8ToWide(hello.client), Utf8ToWide(IdentifyPhone(hello).address));
}

}  // namespace

void Win32App::OnPhoneHeld(const PhoneHello& hello) {
  // Behind the ones that came first: a newer phone never takes the place, or
  // the prompt, of one that waits.
  waiting_phones_.push_back(hello);
  ShowNextPhonePrompt();
}

void Win32App::ShowNextPhonePrompt() {
  while (!prompt_ && !waiting_phones_.empty()) {
    prompted_ = waiting_phones_.front();
    waiting_phones_.pop_front();
    Log(LogLevel::Warn, "APP", "Win32App: asking whether " + prompted_.peer + " may type");
    const std::uint64_t id = prompted_.id;
    prompt_ = PhonePrompt::Show(window(), instance_, Utf8ToWide(prompted_.client),
                                Utf8ToWide(IdentifyPhone(prompted_).address),
                                [this, id](bool allow) { AnswerPhonePrompt(id, allow); });
    if (!prompt_) {
      // Nobody can be asked: the phone is not allowed.
      AnswerPhonePrompt(id, false);
      continue;
    }
    // The prompt does not take the focus from the window the user types in;
    // the notice, or the tray icon, brings it to the front.
    ShowTrayNotice(L"新手机请求连接",
                   PhoneText(prompted_) + L" 请求向这台电脑输入文字。单击此通知或托盘图标来回答。");
  }
}

void Win32App::AnswerPhonePrompt(std::uint64_t id, bool allow) {
  if (id == 0 || prompted_.id != id) {
    return;
  }
  const PhoneHello hello = std::exchange(prompted_, PhoneHello{});
  // The server hears the answer before anything else happens, the prompt's
  // going included.
  const bool answered = server_ && server_->AnswerHeldPhone(id, allow);
  prompt_.reset();
  if (answered && !allow) {
    ShowTrayNotice(L"已拒绝手机", PhoneText(hello) + L" 不能向这台电脑输入文字。");
  } else if (answered) {
    RememberPhone(config_.known_phones, IdentifyPhone(hello));
    SaveAppConfig(config_);
    ApplyPhoneSettings();
    just_allowed_ = hello.id;
    ShowTrayNotice(L"已允许手机", PhoneText(hello) + L" 现在可以输入文字，下次连接时不再询问。");
  }
  // Unanswered: the phone left, or its server went, while the user thought.
  ShowNextPhonePrompt();
}

void Win32App::OnHeldPhoneGone(std::uint64_t id) {
  if (id == 0) {
    return;
  }
  if (prompted_.id != id) {
    // Gone before its turn came: the user was never asked about it.
    std::erase_if(waiting_phones_, [id](const PhoneHello& hello) { return hello.id == id; });
    return;
  }
  const PhoneHello hello = std::exchange(prompted_, PhoneHello{});
  prompt_.reset();
  ShowTrayNotice(L"已拒绝手机", PhoneText(hello) + L" 没有得到允许，已断开。");
  ShowNextPhonePrompt();
}

bool Win32App::BringPhonePromptToFront() {
  if (!prompt_) {
    return false;
  }
  prompt_->BringToFront();
  return true;
}

void Win32App::ApplyPhoneSettings() {
  gate_.Configure(config_);
  if (server_) {
    server_->ReviewActivePhone();
  }
}

void Win32App::OnPhoneActive(const PhoneHello& hello, bool took_over) {
  active_phone_ = hello;
  // A phone the user has just allowed was announced already.
  if (took_over && hello.id != just_allowed_) {
    ShowTrayNotice(L"手机已接管", PhoneText(hello) + L" 接替了之前连接的手机。");
  }
  just_allowed_ = 0;
  connection_history_.NoteConnected();
  RefreshConnectionBox(kRefreshHistory);
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
