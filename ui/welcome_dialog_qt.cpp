#include "ui/welcome_dialog_qt.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>

#include <optional>
#include <utility>
#include <vector>

#include "ui/connection_dialog_qt.h"
#include "ui/connection_view.h"
#include "ui/dialog_forms.h"
#include "ui/dialog_frame_qt.h"

namespace lumora {

namespace {

class WelcomeDialogQt final : public ConfigDialogQt {
 public:
  WelcomeDialogQt(const AppConfig& current, PortTrial try_port)
      : ConfigDialogQt(current, WelcomeForm(LinuxFirewallNote(current.listen_port)),
                       {kOnboardingPortEditId, kOnboardingStartId, kOnboardingSkipId}, std::move(try_port)),
        ranked_(CurrentAddresses()),
        addresses_(widgets().get<QListWidget>(kOnboardingAddressListId)),
        diagnosis_(widgets().get<QLabel>(kOnboardingDiagnosisId)),
        press_enter_(widgets().get<QCheckBox>(kOnboardingPressEnterId)) {
    setObjectName(QString::fromLatin1(kWelcomeDialogQtObjectName));
    setWindowTitle(DialogTitle(u"欢迎"));
    // The fixes change Windows' firewall and network settings: nothing of them here.
    for (const int id : {kOnboardingAllowPhoneId, kOnboardingNetworkSettingsId}) {
      widgets().get<QWidget>(id)->hide();
    }
    // Read, not chosen from, as a label is: not a stop of Tab, as on Windows.
    addresses_->setFocusPolicy(Qt::NoFocus);
    ShowPort(current.listen_port);
    press_enter_->setChecked(current.press_enter_on_commit);
    // The lines name the port: they follow what the user types, as long as
    // it is a port the dialog would take.
    connect(widgets().get<QLineEdit>(kOnboardingPortEditId), &QLineEdit::textChanged, this,
            [this](const QString& text) {
              if (const std::optional<std::int32_t> port = ListenPortFromText(text.toStdU16String())) {
                ShowPort(*port);
              }
            });
  }

 private:
  void ShowPort(std::int32_t port) {
    addresses_->clear();
    for (const std::u16string& line : AddressLines(ranked_, port)) {
      addresses_->addItem(QString::fromStdU16String(line));
    }
    diagnosis_->setText(QString::fromStdU16String(LinuxFirewallNote(port)));
  }

  void TakeControls(std::int32_t port, AppConfig& working) override {
    // Only these two: the start button confirms the port and the Enter
    // choice; the host starts the server after the dialog, whichever button
    // closed it.
    working.listen_port = port;
    working.press_enter_on_commit = press_enter_->isChecked();
  }

  // Looked at when the dialog opens.
  std::vector<ShownAddress> ranked_;
  QListWidget* addresses_;
  QLabel* diagnosis_;
  QCheckBox* press_enter_;
};

}  // namespace

bool RunWelcomeDialogQt(const AppConfig& current, AppConfig* result, PortTrial try_port) {
  WelcomeDialogQt dialog(current, std::move(try_port));
  return dialog.RunModal(result);
}

}  // namespace lumora
