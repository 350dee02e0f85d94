#include "ui/dialog_frame_qt.h"

#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include <optional>
#include <set>
#include <utility>

#include "base/product.h"

namespace lumora {

QString DialogTitle(const char16_t* what) {
  return QStringLiteral(PARLINO_PRODUCT_NAME_TEXT " - ") + QString::fromUtf16(what);
}

FormWidgets BuildDialogWidgets(const Form& form, QDialog* dialog) {
  FormWidgets widgets = BuildFormWidgets(form, dialog);
  std::set<const QWidget*> literal;  // text from outside: an "&" in it is only a character
  for (const FormControl& control : form.controls) {
    if (const auto found = widgets.by_id.find(control.id); found != widgets.by_id.end()) {
      found->second->setObjectName(QString::number(control.id));
      if (control.literal) {
        literal.insert(found->second);
      }
    }
  }
  QLabel* waiting = nullptr;  // a label whose access key has nowhere to go yet
  // The dialog's children in the order they were made, which is the form's
  // reading order and the order of Tab.
  for (QObject* child : dialog->children()) {
    auto* widget = qobject_cast<QWidget*>(child);
    if (widget == nullptr) {
      continue;
    }
    if (auto* label = qobject_cast<QLabel*>(widget)) {
      if (label->buddy() == nullptr && !literal.contains(label) &&
          !QKeySequence::mnemonic(label->text()).isEmpty()) {
        waiting = label;
      }
      continue;
    }
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
      // A focused button is what Enter presses, "取消" included, as on
      // Windows; the default button is pressed while the focus is elsewhere.
      button->setAutoDefault(true);
    }
    if (waiting != nullptr && (widget->focusPolicy() & Qt::TabFocus) != 0) {
      waiting->setBuddy(widget);
      waiting = nullptr;
    }
  }
  return widgets;
}

void ShowModalInFront(QDialog* dialog) {
  // Modal before it is shown: exec() makes only a hidden dialog modal.
  dialog->setWindowModality(Qt::ApplicationModal);
  dialog->show();
  dialog->raise();
  dialog->activateWindow();
}

ConfigDialogQt::ConfigDialogQt(const AppConfig& current, const Form& form, ControlIds ids, PortTrial try_port)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      try_port_(std::move(try_port)),
      working_(current),
      widgets_(BuildDialogWidgets(form, this)),
      port_edit_(widgets_.get<QLineEdit>(ids.port_edit)) {
  port_edit_->setMaxLength(kPortEditMaxDigits);
  // Full-width digits too: a Chinese input method in full-width mode types
  // them, the port rules read them, and the Windows edit takes them.
  port_edit_->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9\uFF10-\uFF19]*")), port_edit_));
  port_edit_->setText(QString::number(current.listen_port));
  // A keyboard user can type another port at once.
  port_edit_->setFocus(Qt::OtherFocusReason);
  port_edit_->selectAll();
  connect(widgets_.get<QPushButton>(ids.confirm), &QPushButton::clicked, this, [this] { Confirm(); });
  connect(widgets_.get<QPushButton>(ids.cancel), &QPushButton::clicked, this, &QDialog::reject);
}

bool ConfigDialogQt::RunModal(AppConfig* result) {
  ShowModalInFront(this);
  if (exec() != QDialog::Accepted || result == nullptr) {
    return false;
  }
  *result = working_;
  return true;
}

void ConfigDialogQt::Confirm() {
  const std::optional<std::int32_t> port = ListenPortFromText(port_edit_->text().toStdU16String());
  if (!port) {
    Warn(PortWarningText());
    return;  // the dialog stays as the user left it
  }
  // Told here, while the user can still pick another, not after the dialog
  // closed on a port nothing listens on.
  if (try_port_ && !try_port_(*port)) {
    Warn(DialogPortTakenText(*port));
    return;
  }
  TakeControls(*port, working_);
  accept();
}

void ConfigDialogQt::Warn(const std::u16string& text) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral(PARLINO_PRODUCT_NAME_TEXT),
                  QString::fromStdU16String(text), QMessageBox::Ok, this);
  box.exec();
  port_edit_->setFocus(Qt::OtherFocusReason);
  port_edit_->selectAll();
}

}  // namespace lumora
