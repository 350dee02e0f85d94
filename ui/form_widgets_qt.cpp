#include "ui/form_widgets_qt.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace lumora {

QString FormText(const FormControl& control) {
  QString text = QString::fromStdU16String(control.text);
  if (control.literal) {
    text.replace(QLatin1Char('&'), QStringLiteral("&&"));
  }
  return text;
}

FormWidgets BuildFormWidgets(const Form& form, QDialog* dialog) {
  FormWidgets widgets;
  auto* column = new QVBoxLayout(dialog);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  QFormLayout* fields = nullptr;
  QHBoxLayout* row = nullptr;  // the row a Beside control joins
  QLabel* pending_label = nullptr;
  // The reading width: a paragraph wraps in a comfortable line.
  const int reading_width = dialog->fontMetrics().averageCharWidth() * form.reading_width_units / 4;

  for (const FormControl& control : form.controls) {
    QWidget* widget = nullptr;
    const QString text = FormText(control);
    switch (control.kind) {
      case ControlKind::Label:
      case ControlKind::Paragraph: {
        auto* label = new QLabel(text, dialog);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(control.kind == ControlKind::Paragraph);
        if (control.kind == ControlKind::Paragraph && reading_width > 0) {
          label->setMinimumWidth(reading_width);
        }
        // Text from the network is shown, not interpreted; only a field's
        // label has an access key.
        if (control.literal) {
          label->setText(QString::fromStdU16String(control.text));
        }
        widget = label;
        break;
      }
      case ControlKind::NumberEdit: {
        auto* edit = new QLineEdit(dialog);
        edit->setMaxLength(6);
        edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
        widget = edit;
        break;
      }
      case ControlKind::CheckBox:
        widget = new QCheckBox(text, dialog);
        break;
      case ControlKind::DropList: {
        auto* list = new QComboBox(dialog);
        for (const std::u16string& entry : control.entries) {
          list->addItem(QString::fromStdU16String(entry));
        }
        widget = list;
        break;
      }
      case ControlKind::List:
      case ControlKind::ReadOnlyList: {
        auto* list = new QListWidget(dialog);
        const int rows = std::max(1, control.rows);
        list->setMinimumHeight(list->fontMetrics().lineSpacing() * rows + 2 * list->frameWidth() + 4);
        if (control.kind == ControlKind::ReadOnlyList) {
          list->setSelectionMode(QAbstractItemView::NoSelection);
        }
        widget = list;
        break;
      }
      case ControlKind::Button:
      case ControlKind::DefaultButton: {
        auto* button = new QPushButton(text, dialog);
        button->setAutoDefault(false);
        if (control.kind == ControlKind::DefaultButton) {
          button->setDefault(true);
          widgets.default_button = button;
        }
        widget = button;
        break;
      }
      case ControlKind::Picture: {
        auto* label = new QLabel(dialog);
        label->setFixedSize(control.picture_size, control.picture_size);
        widget = label;
        break;
      }
    }
    widget->setEnabled(!control.disabled);
    if (control.id != 0) {
      widgets.by_id[control.id] = widget;
    }
    switch (control.place) {
      case Place::FieldLabel: {
        pending_label = qobject_cast<QLabel*>(widget);
        break;
      }
      case Place::Field:
        if (fields == nullptr) {
          fields = new QFormLayout;
          column->addLayout(fields);
        }
        if (pending_label != nullptr) {
          // The label's access key moves the focus to its field.
          pending_label->setBuddy(widget);
          fields->addRow(pending_label, widget);
          pending_label = nullptr;
        } else {
          fields->addRow(widget);
        }
        row = nullptr;
        break;
      case Place::Beside:
        if (row == nullptr) {
          row = new QHBoxLayout;
          column->addLayout(row);
        }
        row->addWidget(widget);
        break;
      case Place::Button:
        buttons->addWidget(widget);
        break;
      case Place::CentredLine:
        column->addWidget(widget, 0, Qt::AlignHCenter);
        fields = nullptr;
        row = nullptr;
        break;
      case Place::Line:
        if (control.group_start) {
          column->addSpacing(dialog->fontMetrics().height() / 2);
        }
        row = new QHBoxLayout;
        row->addWidget(widget);
        column->addLayout(row);
        fields = nullptr;
        break;
    }
  }
  column->addSpacing(dialog->fontMetrics().height() / 2);
  column->addLayout(buttons);
  return widgets;
}

}  // namespace lumora
