#include "ui/connection_dialog_qt.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include <utility>

#include "base/product.h"
#include "ui/connection_view.h"
#include "ui/dialog_forms.h"
#include "ui/form_widgets_qt.h"

namespace lumora {

std::u16string LinuxFirewallNote(std::int32_t port) {
  const std::string digits = std::to_string(port);
  return u"本程序看不到这台电脑上的防火墙（如 ufw、firewalld）。手机连不上时，请允许 TCP 端口 " +
         std::u16string(digits.begin(), digits.end()) + u" 的传入连接，并确认手机和电脑连的是同一个 Wi-Fi。";
}

ConnectionDialogQt::ConnectionDialogQt(ConnectionSourceQt source)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), source_(std::move(source)) {
  setObjectName(QString::fromLatin1(kConnectionDialogQtObjectName));
  setWindowTitle(QStringLiteral(PARLINO_PRODUCT_NAME_TEXT));
  setAttribute(Qt::WA_DeleteOnClose, false);
  const FormWidgets widgets = BuildFormWidgets(ConnectionForm(u"", u"", u""), this);
  heading_ = widgets.get<QLabel>(kConnectionHeadingId);
  addresses_ = widgets.get<QListWidget>(kConnectionAddressListId);
  diagnosis_ = widgets.get<QLabel>(kConnectionDiagnosisId);
  history_ = widgets.get<QLabel>(kConnectionHistoryId);
  // The fixes change Windows' firewall and network settings: nothing of them here.
  for (const int id : {kConnectionAllowPhoneId, kConnectionNetworkSettingsId}) {
    if (QWidget* fix = widgets.get<QWidget>(id)) {
      fix->hide();
    }
  }
  connect(widgets.get<QPushButton>(kConnectionRecheckId), &QPushButton::clicked, this, [this] { Refresh(); });
  connect(widgets.get<QPushButton>(kConnectionCloseId), &QPushButton::clicked, this, &QDialog::accept);
  Refresh();
}

void ConnectionDialogQt::Refresh() {
  const std::int32_t port = source_.port ? source_.port() : 0;
  const bool listening = source_.listening && source_.listening();
  heading_->setText(QString::fromStdU16String(ConnectionHeading(port, listening)));
  addresses_->clear();
  for (const std::u16string& line : AddressLines(CurrentAddresses(), port)) {
    addresses_->addItem(QString::fromStdU16String(line));
  }
  diagnosis_->setText(QString::fromStdU16String(LinuxFirewallNote(port)));
  history_->setText(QString::fromStdU16String(source_.history ? source_.history() : std::u16string()));
}

}  // namespace lumora
