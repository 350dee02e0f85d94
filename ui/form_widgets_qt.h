#pragma once

// A dialog's controls from its portable form (ui/dialog_forms.h), as Qt
// widgets in Qt layouts: the same texts, the same reading and Tab order, the
// same access keys (a field's label is its buddy), and sizes that follow the
// user's font and scale as Qt's do.

#include <QDialog>
#include <QWidget>

#include <map>

#include "ui/form_layout.h"

class QPushButton;

namespace lumora {

struct FormWidgets {
  std::map<int, QWidget*> by_id;  // the controls with an id, owned by the dialog
  QPushButton* default_button = nullptr;

  template <typename T>
  T* get(int id) const {
    const auto found = by_id.find(id);
    return found == by_id.end() ? nullptr : qobject_cast<T*>(found->second);
  }
};

// Fills `dialog` (which has no layout yet) with the controls of `form`.
FormWidgets BuildFormWidgets(const Form& form, QDialog* dialog);

// A label's or button's text for Qt, which marks access keys with "&" as
// Windows does: literal text has its "&" doubled.
QString FormText(const FormControl& control);

}  // namespace lumora
