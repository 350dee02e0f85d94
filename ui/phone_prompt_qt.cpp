#include "ui/phone_prompt_qt.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>

#include <utility>

#include "base/display_text.h"
#include "base/product.h"
#include "base/utf16.h"
#include "ui/dialog_forms.h"
#include "ui/form_widgets_qt.h"

namespace lumora {

PhonePromptQt::PhonePromptQt(std::string_view phone_name_utf8, std::string_view address_utf8,
                             std::function<void(bool allow)> decided, std::chrono::milliseconds settle)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      decided_(std::move(decided)),
      settle_(settle) {
  setObjectName(QString::fromLatin1(kPhonePromptQtObjectName));
  setWindowTitle(QStringLiteral(PARLINO_PRODUCT_NAME_TEXT " - 新手机"));
  // Shown on top, but the window the user types in keeps the focus.
  setAttribute(Qt::WA_ShowWithoutActivating);
  const FormWidgets widgets = BuildFormWidgets(
      PhonePromptForm(PhonePromptLine(Utf8ToUtf16(phone_name_utf8), Utf8ToUtf16(address_utf8))), this);
  allow_ = widgets.get<QPushButton>(kPhonePromptAllowId);
  refuse_ = widgets.get<QPushButton>(kPhonePromptRefuseId);
  for (QPushButton* button : {allow_, refuse_}) {
    button->installEventFilter(this);
  }
  connect(allow_, &QPushButton::clicked, this, [this] { Decide(true); });
  connect(refuse_, &QPushButton::clicked, this, [this] { Decide(false); });
  // "拒绝" has the focus whenever the prompt is active.
  refuse_->setFocus();
  Unsettle();
  show();
}

PhonePromptQt::~PhonePromptQt() { *alive_ = false; }

void PhonePromptQt::BringToFront() {
  Unsettle();
  show();
  raise();
  activateWindow();
  refuse_->setFocus();
}

bool PhonePromptQt::settled() const { return since_.isValid() && since_.elapsed() >= settle_.count(); }

bool PhonePromptQt::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) {
    // Activated by a click or the window manager: keys meant for the window
    // before it must not answer.
    Unsettle();
  }
  return QDialog::event(event);
}

bool PhonePromptQt::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
      if (!settled()) {
        return true;  // swallowed: too soon to be meant for this prompt
      }
      break;
    default:
      break;
  }
  return QDialog::eventFilter(watched, event);
}

void PhonePromptQt::keyPressEvent(QKeyEvent* event) {
  if (!settled()) {
    event->accept();
    return;
  }
  switch (event->key()) {
    case Qt::Key_Escape:
      Decide(false);
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // The focused button, "拒绝" unless the user moved to "允许".
      Decide(allow_->hasFocus());
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

void PhonePromptQt::closeEvent(QCloseEvent* event) {
  // The close box refuses; a window that goes with the program decides nothing.
  event->ignore();
  if (settled()) {
    Decide(false);
  }
}

void PhonePromptQt::Decide(bool allow) {
  if (decided_once_) {
    return;
  }
  decided_once_ = true;
  const std::weak_ptr<bool> alive = alive_;
  if (decided_) {
    decided_(allow);
  }
  if (!alive.expired()) {
    hide();
  }
}

}  // namespace lumora
