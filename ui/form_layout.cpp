#include "ui/form_layout.h"

#include <algorithm>

#include "overlay/dpi.h"

namespace lumora {

namespace {

// What Windows draws at a fixed size, in pixels at 96 DPI: a check box's
// square and the room before its text, a drop-down list's arrow button, and
// the room inside a field or button around its text.
constexpr std::int32_t kCheckSquare = 13;
constexpr std::int32_t kCheckTextGap = 5;
constexpr std::int32_t kArrowButton = 17;
constexpr std::int32_t kFieldInner = 8;    // borders and margins, both sides together
constexpr std::int32_t kButtonInner = 20;  // edges and room for the focus rectangle
// The widest number a number field shows, and a digit to spare.
constexpr std::u16string_view kWidestNumber = u"000000";

bool Stretches(ControlKind kind) {
  return kind == ControlKind::Paragraph || kind == ControlKind::List || kind == ControlKind::ReadOnlyList;
}

class Units {
 public:
  Units(const TextMeasure& measure, std::uint32_t dpi)
      : line_(std::max(measure.LineHeight(), 1)), average_(std::max(measure.AverageWidth(), 1)), dpi_(dpi) {}
  // Horizontal and vertical dialog units: a quarter of the average width, an
  // eighth of the line height.
  std::int32_t h(std::int32_t n) const { return (n * average_ + 2) / 4; }
  std::int32_t v(std::int32_t n) const { return (n * line_ + 4) / 8; }
  // Pixels Windows draws at 96 DPI, at the dialog's.
  std::int32_t px(std::int32_t n) const { return ScaleForDpi(n, dpi_); }
  std::int32_t line() const { return line_; }

 private:
  std::int32_t line_;
  std::int32_t average_;
  std::uint32_t dpi_;
};

// The widest line of a label's or button's text and its count of lines.
struct TextSize {
  std::int32_t width = 0;
  std::int32_t lines = 1;
};

TextSize MeasureLines(const TextMeasure& measure, std::u16string_view shown) {
  TextSize size{0, 0};
  std::size_t start = 0;
  while (true) {
    const std::size_t end = shown.find(u'\n', start);
    size.width = std::max(size.width, measure.Width(shown.substr(start, end - start)));
    ++size.lines;
    if (end == std::u16string_view::npos) {
      return size;
    }
    start = end + 1;
  }
}

// The size a control needs; a control that spans the dialog gives the least
// width it can do with.
LayoutBox NaturalSize(const FormControl& control, const TextMeasure& measure, const Units& u) {
  const std::u16string shown = ShownText(control.text, control.literal);
  const std::int32_t field_height = u.line() + u.px(kFieldInner);
  switch (control.kind) {
    case ControlKind::Label: {
      const TextSize text = MeasureLines(measure, shown);
      return {0, 0, text.width, text.lines * u.line()};
    }
    case ControlKind::Paragraph:
      return {0, 0, u.h(40), 0};  // its height follows from the dialog's width
    case ControlKind::NumberEdit:
      return {0, 0, std::max(measure.Width(kWidestNumber) + u.px(kFieldInner), u.h(40)), field_height};
    case ControlKind::CheckBox: {
      const TextSize text = MeasureLines(measure, shown);
      return {0, 0, u.px(kCheckSquare + kCheckTextGap) + text.width + u.px(4),
              std::max(text.lines * u.line(), u.px(kCheckSquare)) + u.px(4)};
    }
    case ControlKind::DropList: {
      std::int32_t widest = 0;
      for (const std::u16string& entry : control.entries) {
        widest = std::max(widest, measure.Width(entry));
      }
      return {0, 0, std::max(widest + u.px(kArrowButton + kFieldInner), u.h(60)), field_height};
    }
    case ControlKind::List:
    case ControlKind::ReadOnlyList:
      return {0, 0, u.h(80), std::max(control.rows, 1) * u.line() + u.px(4)};
    case ControlKind::Button:
    case ControlKind::DefaultButton: {
      const TextSize text = MeasureLines(measure, shown);
      return {0, 0, std::max(text.width + u.px(kButtonInner), u.h(50)),
              std::max(u.v(14), text.lines * u.line() + u.px(kFieldInner))};
    }
    case ControlKind::Picture:
      return {0, 0, u.px(control.picture_size), u.px(control.picture_size)};
  }
  return {};
}

}  // namespace

std::u16string ShownText(std::u16string_view text, bool literal) {
  if (literal) {
    return std::u16string(text);
  }
  std::u16string shown;
  shown.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'&') {
      shown += text[i];
    } else if (i + 1 < text.size()) {
      shown += text[++i];  // "&&" shows one "&"; "&x" shows "x", underlined
    }
  }
  return shown;
}

FormLayout LayOutForm(const Form& form, const TextMeasure& measure, std::uint32_t dpi,
                      std::int32_t least_width) {
  const Units u(measure, dpi);
  const std::vector<FormControl>& controls = form.controls;
  const std::size_t count = controls.size();
  std::vector<LayoutBox> sizes(count);
  for (std::size_t i = 0; i < count; ++i) {
    sizes[i] = NaturalSize(controls[i], measure, u);
  }
  const auto is_field_row = [&](std::size_t i) {
    return controls[i].place == Place::FieldLabel && i + 1 < count && controls[i + 1].place == Place::Field;
  };

  // The columns: every field starts where the widest of the labels beside
  // fields ends. The buttons of the bottom row are all as wide as the widest.
  const std::int32_t gap_x = u.h(4);
  std::int32_t label_column = 0;
  std::int32_t button_width = 0;
  std::int32_t button_count = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (is_field_row(i)) {
      label_column = std::max(label_column, sizes[i].width);
    }
    if (controls[i].place == Place::Button) {
      button_width = std::max(button_width, sizes[i].width);
      ++button_count;
    }
  }
  const std::int32_t field_x = label_column + gap_x;

  // The content's width: the widest row, and at least the reading width and
  // what the client area must hold.
  const std::int32_t margin_x = u.h(7);
  const std::int32_t margin_y = u.v(7);
  std::int32_t width = std::max(u.h(form.reading_width_units), least_width - 2 * margin_x);
  if (button_count > 0) {
    width = std::max(width, button_count * button_width + (button_count - 1) * gap_x);
  }
  std::int32_t row_width = 0;
  for (std::size_t i = 0; i < count; ++i) {
    switch (controls[i].place) {
      case Place::FieldLabel:
        row_width = is_field_row(i) ? field_x + sizes[i + 1].width : sizes[i].width;
        break;
      case Place::Field:
        continue;  // counted with its label
      case Place::Beside:
        row_width += gap_x + sizes[i].width;
        break;
      case Place::Button:
        continue;
      case Place::Line:
      case Place::CentredLine:
        row_width = sizes[i].width;
        break;
    }
    width = std::max(width, row_width);
  }

  // Top to bottom, a row at a time.
  FormLayout layout;
  layout.boxes.resize(count);
  std::int32_t y = margin_y;       // where the next row may start
  std::int32_t row_top = y;        // the current row's
  std::int32_t bottom = margin_y;  // the lowest edge so far
  bool first_row = true;
  const auto start_row = [&](const FormControl& control) {
    if (!first_row) {
      y = bottom + (control.group_start || control.place == Place::Button ? u.v(10) : u.v(4));
    }
    first_row = false;
    row_top = y;
  };
  for (std::size_t i = 0; i < count; ++i) {
    const FormControl& control = controls[i];
    LayoutBox box = sizes[i];
    switch (control.place) {
      case Place::FieldLabel:
        start_row(control);
        box.x = margin_x;
        box.y = row_top;
        if (is_field_row(i)) {
          // Label and field centred on one line.
          LayoutBox field = sizes[i + 1];
          const std::int32_t height = std::max(box.height, field.height);
          box.y = row_top + (height - box.height) / 2;
          field.x = margin_x + field_x;
          field.y = row_top + (height - field.height) / 2;
          layout.boxes[i + 1] = field;
          bottom = std::max(bottom, row_top + height);
        }
        break;
      case Place::Field:
        if (i > 0 && is_field_row(i - 1)) {
          continue;  // placed with its label
        }
        [[fallthrough]];
      case Place::Line:
      case Place::CentredLine:
        start_row(control);
        if (Stretches(control.kind)) {
          box.width = width;
        }
        if (control.kind == ControlKind::Paragraph) {
          box.height = measure.WrappedHeight(ShownText(control.text, control.literal), width);
        }
        box.x = margin_x + (control.place == Place::CentredLine ? (width - box.width) / 2 : 0);
        box.y = row_top;
        break;
      case Place::Beside: {
        if (i == 0) {
          start_row(control);
          box.x = margin_x;
          box.y = row_top;
          break;
        }
        // At the right edge; a control before it that spans the width gives
        // way.
        LayoutBox& before = layout.boxes[i - 1];
        if (Stretches(controls[i - 1].kind)) {
          box.x = margin_x + width - box.width;
          before.width = std::max(box.x - gap_x - before.x, 0);
        } else {
          box.x = before.x + before.width + gap_x;
        }
        box.y = before.y;
        break;
      }
      case Place::Button: {
        if (i == 0 || controls[i - 1].place != Place::Button) {
          start_row(control);
        }
        // Right-aligned: this one's place counted from the end of the row.
        std::size_t after = 0;
        for (std::size_t j = i + 1; j < count && controls[j].place == Place::Button; ++j) {
          ++after;
        }
        box.width = button_width;
        box.x = margin_x + width - button_width - static_cast<std::int32_t>(after) * (button_width + gap_x);
        box.y = row_top;
        break;
      }
    }
    layout.boxes[i] = box;
    bottom = std::max(bottom, box.y + box.height);
  }
  layout.client_width = width + 2 * margin_x;
  layout.client_height = bottom + margin_y;
  return layout;
}

}  // namespace lumora
