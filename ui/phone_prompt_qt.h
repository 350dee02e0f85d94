#pragma once

// The question about a phone the user has not allowed, on Linux: the same
// texts and rules as on Windows. It appears on top without taking the focus
// from the window the user types in, "拒绝" is the default button, and for a
// moment after it appears or comes to the front its keys and buttons do
// nothing, so that what the user was typing elsewhere cannot answer it.

#include <QDialog>
#include <QElapsedTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <string_view>

#include "core/phone_consent.h"

class QPushButton;

namespace lumora {

inline constexpr char kPhonePromptQtObjectName[] = "Parlino.PhonePrompt";
inline constexpr std::chrono::milliseconds kPhonePromptQtSettle{1000};

class PhonePromptQt final : public QDialog, public ConsentPrompt {
 public:
  // `decided` runs once, with true for "允许" and false for "拒绝", Esc or
  // the close box, before the window goes; destroying the prompt decides
  // nothing. `decided` may destroy the prompt.
  PhonePromptQt(std::string_view phone_name_utf8, std::string_view address_utf8,
                std::function<void(bool allow)> decided,
                std::chrono::milliseconds settle = kPhonePromptQtSettle);
  ~PhonePromptQt() override;

  // Makes the prompt the active window, when the user asked for it.
  void BringToFront() override;

  bool settled() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void Decide(bool allow);
  void Unsettle() { since_.start(); }

  std::function<void(bool)> decided_;
  std::chrono::milliseconds settle_;
  QElapsedTimer since_;
  QPushButton* allow_ = nullptr;
  QPushButton* refuse_ = nullptr;
  bool decided_once_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace lumora
