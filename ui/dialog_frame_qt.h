#pragma once

// What the settings, welcome and contact dialogs share on Linux, as
// dialog_frame_win does on Windows: the keyboard behaving as in a Windows
// dialog, controls found by their form ids, and the settings being edited in
// a copy that only a confirmation with a usable port hands back.

#include <QDialog>
#include <QString>

#include <cstdint>

#include "config/app_config.h"
#include "ui/form_widgets_qt.h"
#include "ui/port_text.h"

class QLineEdit;

namespace lumora {

// "Lumora语音输入 - `what`", the title of a dialog of the program.
QString DialogTitle(const char16_t* what);

// BuildFormWidgets, and then the keyboard of a Windows dialog: Enter presses
// the focused button, or the default button while the focus is elsewhere;
// and a label whose access key has no field yet (a line of its own above a
// list) moves the focus to the next control that takes it. Every control
// with an id has its id as object name, to be found by FindFormControl.
FormWidgets BuildDialogWidgets(const Form& form, QDialog* dialog);

// The control of `dialog` with the form id `id`.
template <typename T>
T* FindFormControl(const QWidget* dialog, int id) {
  return dialog->findChild<T*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

// Shows `dialog` modal to the whole program, in front and active: opened from
// the tray, it has no window of the program to come up over. exec() then runs
// its loop.
void ShowModalInFront(QDialog* dialog);

// The settings and the welcome dialog: the window edits a copy of the
// settings. The confirm button, or Enter, takes the controls' values when the
// port is one the dialogs accept and the program could bind it; otherwise a
// warning, after which the dialog stays with the port's text selected, so
// that what the user types next replaces it. The cancel button, Esc or the
// close box close it and leave the record as it was.
class ConfigDialogQt : public QDialog {
 public:
  // Shows the dialog and returns when it is closed: true, with `result` set
  // to the whole edited record, when the user confirmed and `result` is not
  // null; otherwise false with `result` untouched.
  bool RunModal(AppConfig* result);

 protected:
  struct ControlIds {
    int port_edit;
    int confirm;  // also the default button, pressed by Enter
    int cancel;
  };

  // Makes the controls of `form`, the port edit with the current port and
  // the focus. `try_port` (may be empty) is asked at every confirmation with
  // a valid port.
  ConfigDialogQt(const AppConfig& current, const Form& form, ControlIds ids, PortTrial try_port);

  // At a confirmation with a valid `port`: what the controls hold, into
  // `working`.
  virtual void TakeControls(std::int32_t port, AppConfig& working) = 0;

  const FormWidgets& widgets() const { return widgets_; }

 private:
  void Confirm();
  void Warn(const std::u16string& text);

  PortTrial try_port_;
  AppConfig working_;
  FormWidgets widgets_;
  QLineEdit* port_edit_ = nullptr;
};

}  // namespace lumora
