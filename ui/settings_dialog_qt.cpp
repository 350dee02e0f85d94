#include "ui/settings_dialog_qt.h"

#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>

#include <cstddef>
#include <utility>
#include <vector>

#include "base/display_text.h"
#include "ui/dialog_forms.h"
#include "ui/dialog_frame_qt.h"

namespace lumora {

namespace {

// The value at the list's selection, or `fallback` without one.
template <typename Enum>
Enum SelectedValue(const QComboBox* list, std::int32_t count, Enum fallback) {
  const int index = list->currentIndex();
  return index >= 0 && index < count ? static_cast<Enum>(index) : fallback;
}

// The selected row of the phone list, or -1.
int SelectedRow(const QListWidget* list) {
  const QList<QListWidgetItem*> selected = list->selectedItems();
  return selected.isEmpty() ? -1 : list->row(selected.front());
}

class SettingsDialogQt final : public ConfigDialogQt {
 public:
  SettingsDialogQt(const AppConfig& current, PortTrial try_port)
      : ConfigDialogQt(current, SettingsForm(), {kSettingsPortEditId, kSettingsOkId, kSettingsCancelId},
                       std::move(try_port)),
        phones_(current.known_phones),
        press_enter_(widgets().get<QCheckBox>(kSettingsPressEnterId)),
        auto_start_(widgets().get<QCheckBox>(kSettingsAutoStartId)),
        theme_(widgets().get<QComboBox>(kSettingsThemeListId)),
        position_(widgets().get<QComboBox>(kSettingsPositionListId)),
        confirm_phones_(widgets().get<QCheckBox>(kSettingsConfirmPhonesId)),
        phone_list_(widgets().get<QListWidget>(kSettingsPhoneListId)),
        forget_(widgets().get<QPushButton>(kSettingsForgetPhoneId)) {
    setObjectName(QString::fromLatin1(kSettingsDialogQtObjectName));
    setWindowTitle(DialogTitle(u"设置"));
    press_enter_->setChecked(current.press_enter_on_commit);
    auto_start_->setChecked(current.auto_start);
    confirm_phones_->setChecked(current.confirm_new_phones);
    // The lists hold the values in enumeration order: an index is the value.
    theme_->setCurrentIndex(static_cast<int>(current.overlay_theme_color));
    position_->setCurrentIndex(static_cast<int>(current.overlay_position));
    for (const KnownPhone& phone : phones_) {
      phone_list_->addItem(QString::fromStdString(PhoneDisplayLabel(phone.name, phone.address)));
    }
    connect(phone_list_, &QListWidget::itemSelectionChanged, this, [this] { UpdateForgetButton(); });
    connect(forget_, &QPushButton::clicked, this, [this] { ForgetSelectedPhone(); });
  }

 private:
  void TakeControls(std::int32_t port, AppConfig& working) override {
    working.listen_port = port;
    working.press_enter_on_commit = press_enter_->isChecked();
    working.auto_start = auto_start_->isChecked();
    working.overlay_theme_color = SelectedValue(theme_, kOverlayThemeColorCount, OverlayThemeColor::White);
    working.overlay_position = SelectedValue(position_, kOverlayPositionCount, OverlayPosition::Center);
    working.confirm_new_phones = confirm_phones_->isChecked();
    working.known_phones = phones_;
  }

  void ForgetSelectedPhone() {
    const int row = SelectedRow(phone_list_);
    if (row < 0 || static_cast<std::size_t>(row) >= phones_.size()) {
      return;
    }
    phones_.erase(phones_.begin() + row);
    delete phone_list_->takeItem(row);
    // The next phone has moved up into the row: selecting the row again lets
    // the user forget several in turn. After the last row nothing is selected.
    if (row < phone_list_->count()) {
      phone_list_->setCurrentRow(row);
    } else {
      phone_list_->setCurrentRow(-1);
      phone_list_->clearSelection();
    }
    UpdateForgetButton();
  }

  // The forget button works only while a phone is selected.
  void UpdateForgetButton() {
    const bool selected = SelectedRow(phone_list_) >= 0;
    // Qt would pass the focus of a button being disabled on to the next one,
    // "确定", where Enter would confirm: the list takes it, as on Windows.
    if (!selected && focusWidget() == forget_) {
      phone_list_->setFocus(Qt::OtherFocusReason);
    }
    forget_->setEnabled(selected);
  }

  std::vector<KnownPhone> phones_;  // as the list shows them, row for row; the result's at OK
  QCheckBox* press_enter_;
  QCheckBox* auto_start_;
  QComboBox* theme_;
  QComboBox* position_;
  QCheckBox* confirm_phones_;
  QListWidget* phone_list_;
  QPushButton* forget_;
};

}  // namespace

bool RunSettingsDialogQt(const AppConfig& current, AppConfig* result, PortTrial try_port) {
  SettingsDialogQt dialog(current, std::move(try_port));
  return dialog.RunModal(result);
}

}  // namespace lumora
