#include "core/phone_consent.h"

#include <utility>

#include "base/display_text.h"
#include "core/phone_gate.h"
#include "log/log.h"

namespace lumora {
namespace {

// "name（address）" for people, from what the phone said at its hello.
std::string PhoneText(const PhoneHello& hello) {
  return PhoneDisplayLabel(hello.client, IdentifyPhone(hello).address);
}

}  // namespace

PhoneConsentFlow::PhoneConsentFlow(PhoneConsentHost host) : host_(std::move(host)) {}

void PhoneConsentFlow::OnPhoneHeld(const PhoneHello& hello) {
  // Behind the ones that came first: a newer phone never takes the place, or
  // the prompt, of one that waits.
  waiting_.push_back(hello);
  ShowNextPrompt();
}

void PhoneConsentFlow::ShowNextPrompt() {
  while (!prompt_ && !waiting_.empty()) {
    prompted_ = waiting_.front();
    waiting_.pop_front();
    Log(LogLevel::Warn, "APP", "consent: asking whether " + prompted_.peer + " may type");
    const std::uint64_t id = prompted_.id;
    if (host_.show_prompt) {
      prompt_ = host_.show_prompt(prompted_, [this, id](bool allow) { Answer(id, allow); });
    }
    if (!prompt_) {
      // Nobody can be asked: the phone is not allowed.
      Answer(id, false);
      continue;
    }
    // The prompt does not take the focus from the window the user types in;
    // the notice, or the tray icon, brings it to the front.
    Tell(PhoneAskingNotice(PhoneText(prompted_)));
  }
}

void PhoneConsentFlow::Answer(std::uint64_t id, bool allow) {
  if (id == 0 || prompted_.id != id) {
    return;
  }
  const PhoneHello hello = std::exchange(prompted_, PhoneHello{});
  // The server hears the answer before anything else happens, the prompt's
  // going included.
  const bool answered = host_.answer_server && host_.answer_server(id, allow);
  prompt_.reset();
  if (answered && !allow) {
    Tell(PhoneRefusedNotice(PhoneText(hello)));
  } else if (answered) {
    if (host_.remember) {
      host_.remember(hello);
    }
    just_allowed_ = hello.id;
    Tell(PhoneAllowedNotice(PhoneText(hello)));
  }
  // Unanswered: the phone left, or its server went, while the user thought.
  ShowNextPrompt();
}

void PhoneConsentFlow::OnHeldPhoneGone(std::uint64_t id) {
  if (id == 0) {
    return;
  }
  if (prompted_.id != id) {
    // Gone before its turn came: the user was never asked about it.
    std::erase_if(waiting_, [id](const PhoneHello& hello) { return hello.id == id; });
    return;
  }
  const PhoneHello hello = std::exchange(prompted_, PhoneHello{});
  prompt_.reset();
  Tell(PhoneLeftUnansweredNotice(PhoneText(hello)));
  ShowNextPrompt();
}

void PhoneConsentFlow::OnPhoneActive(const PhoneHello& hello, bool took_over) {
  active_phone_ = hello;
  // A phone the user has just allowed was announced already.
  if (took_over && hello.id != just_allowed_) {
    Tell(PhoneTookOverNotice(PhoneText(hello)));
  }
  just_allowed_ = 0;
}

void PhoneConsentFlow::Tell(const Notice& notice) const {
  if (host_.notice) {
    host_.notice(notice);
  }
}

bool PhoneConsentFlow::BringPromptToFront() {
  if (!prompt_) {
    return false;
  }
  prompt_->BringToFront();
  return true;
}

std::string PhoneConsentFlow::LinkedPhoneText(std::string_view peer) const {
  if (peer.empty()) {
    return {};
  }
  if (active_phone_.peer == peer) {
    return PhoneText(active_phone_);
  }
  return PhoneDisplayLabel("", peer);
}

}  // namespace lumora
