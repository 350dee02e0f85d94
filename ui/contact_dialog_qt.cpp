#include "ui/contact_dialog_qt.h"

#include <QDialog>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "ui/dialog_forms.h"
#include "ui/dialog_frame_qt.h"
#include "ui/form_widgets_qt.h"

namespace lumora {

void RunContactDialogQt() {
  QDialog dialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  dialog.setObjectName(QString::fromLatin1(kContactDialogQtObjectName));
  dialog.setWindowTitle(DialogTitle(u"联系作者 & 问题反馈"));
  const FormWidgets widgets = BuildDialogWidgets(ContactForm(), &dialog);
  if (auto* picture = widgets.get<QLabel>(kContactPictureId)) {
    // Scaled once to the label's size in device pixels: sharp on a scaled
    // screen, and smoother than the label's own scaling.
    const QPixmap image(QStringLiteral(":/images/contact.png"));
    if (!image.isNull()) {
      const qreal ratio = dialog.devicePixelRatioF();
      QPixmap shown = image.scaled(picture->size() * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
      shown.setDevicePixelRatio(ratio);
      picture->setPixmap(shown);
    }
  }
  // Enter closes, as Esc does: the window has nothing else to do.
  auto* close = widgets.get<QPushButton>(kContactCloseId);
  QObject::connect(close, &QPushButton::clicked, &dialog, &QDialog::accept);
  close->setFocus(Qt::OtherFocusReason);
  ShowModalInFront(&dialog);
  dialog.exec();
}

}  // namespace lumora
