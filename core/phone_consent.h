#pragma once

// Phones that ask to type: one question at a time about a phone the user has
// not allowed, the answer to the server, the phone remembered, and what the
// tray tells about it. The host shows the question in its own window and
// its notices in its own tray; the order of the steps is the same on every
// desktop. UI thread only.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/tray_texts.h"
#include "net/server.h"

namespace lumora {

// The open question about one phone, as the host shows it.
class ConsentPrompt {
 public:
  virtual ~ConsentPrompt() = default;
  // Destroying the prompt closes it without an answer.
  virtual void BringToFront() = 0;
};

// What the flow needs from the program that hosts it.
struct PhoneConsentHost {
  // Shows the question; `decided` runs once on the UI thread, before the
  // prompt goes, and never before show_prompt has returned. The flow may
  // destroy the prompt inside `decided`. Null (or unset): nobody can be
  // asked, the phone is refused.
  std::function<std::unique_ptr<ConsentPrompt>(const PhoneHello&, std::function<void(bool allow)> decided)>
      show_prompt;
  // Tells the server the answer about the held phone `id`; false when it is
  // no longer held (it left, or its server went).
  std::function<bool(std::uint64_t id, bool allow)> answer_server;
  // Remembers the allowed phone, saves the settings and applies them.
  std::function<void(const PhoneHello&)> remember;
  std::function<void(const Notice&)> notice;
};

class PhoneConsentFlow {
 public:
  explicit PhoneConsentFlow(PhoneConsentHost host);
  PhoneConsentFlow(const PhoneConsentFlow&) = delete;
  PhoneConsentFlow& operator=(const PhoneConsentFlow&) = delete;

  // The server holds `hello` for the user's answer: asked about now, or once
  // the phones before it are answered.
  void OnPhoneHeld(const PhoneHello& hello);
  // A held phone is gone without having been allowed.
  void OnHeldPhoneGone(std::uint64_t id);
  // A phone became the active one; `took_over` when it replaced another.
  void OnPhoneActive(const PhoneHello& hello, bool took_over);
  // The open prompt to the front, when the user asked for it through the
  // tray; false when none is open.
  bool BringPromptToFront();
  // The tray's phone line for the coordinator's peer ("a.b.c.d:port"):
  // "name（address）" when it is the last phone that became active, else its
  // address alone under "未命名手机"; empty for an empty peer.
  std::string LinkedPhoneText(std::string_view peer) const;

 private:
  // Asks about the next waiting phone when no prompt is up.
  void ShowNextPrompt();
  void Answer(std::uint64_t id, bool allow);
  void Tell(const Notice& notice) const;

  PhoneConsentHost host_;
  // One question at a time, about the phone that waits longest (id 0 in
  // `prompted_`: none); the others wait their turn, in order.
  std::unique_ptr<ConsentPrompt> prompt_;
  PhoneHello prompted_;
  std::deque<PhoneHello> waiting_;
  PhoneHello active_phone_;         // the last phone that became active
  std::uint64_t just_allowed_ = 0;  // announced already when it becomes active
};

}  // namespace lumora
