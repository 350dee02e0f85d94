#pragma once

// The dialogs' controls sized and placed from the dialog font, so that no
// text is cut at any text size ("make text bigger") or DPI: sizes come from
// the font's line height and average character width (dialog units, as
// Windows dialogs count them) and from the measured width of each text; only
// the parts Windows draws at a fixed size (check box, arrow, borders, the
// contact picture) scale with the DPI alone. Portable, so that the layout is
// checked over many fonts without a desktop.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ui/dialog_layout.h"

namespace lumora {

// How the dialog font draws text, in pixels at the dialog's DPI.
class TextMeasure {
 public:
  virtual ~TextMeasure() = default;
  // The height of one line.
  virtual std::int32_t LineHeight() const = 0;
  // The average width of a Latin letter: four horizontal dialog units.
  virtual std::int32_t AverageWidth() const = 0;
  // The width of one line as drawn.
  virtual std::int32_t Width(std::u16string_view line) const = 0;
  // The height of `text` wrapped at `width`, as a multi-line label draws it.
  virtual std::int32_t WrappedHeight(std::u16string_view text, std::int32_t width) const = 0;
};

enum class ControlKind {
  Label,          // text on one or more lines ("\n")
  Paragraph,      // text wrapped at the dialog's width
  NumberEdit,     // a field for a number of up to six digits
  CheckBox,       // a check box and its text
  DropList,       // a drop-down list of `entries`, nothing typed
  List,           // `rows` visible rows, as wide as the dialog
  ReadOnlyList,   // the same, for reading only
  Button,         // a push button
  DefaultButton,  // the push button Enter presses
  Picture,        // a square of `picture_size` pixels at 96 DPI, drawn by the dialog
};

// Where a control goes relative to the one before it.
enum class Place {
  Line,         // a row of its own at the left; lists, paragraphs and pictures span the width
  FieldLabel,   // the left column of a row; the next control, a Field, is its field
  Field,        // the right column of the row its label began
  Beside,       // right of the control before, top edges aligned; a list before it gives way
  Button,       // the bottom row of buttons, right-aligned and all of one width
  CentredLine,  // a row of its own, centred
};

struct FormControl {
  ControlKind kind = ControlKind::Label;
  int id = 0;  // 0: a label nobody addresses
  std::u16string text;
  Place place = Place::Line;
  bool group_start = false;  // more room above: a new group of controls begins
  bool literal = false;      // "&" is shown as it is (text from the network): no access key
  bool disabled = false;
  std::vector<std::u16string> entries;  // a drop-down list's choices
  std::int32_t rows = 0;                // a list's visible rows
  std::int32_t picture_size = 0;        // a picture's side at 96 DPI
};

struct Form {
  std::vector<FormControl> controls;
  // The least width of the dialog's content in horizontal dialog units, so
  // that a paragraph has a comfortable line to wrap in.
  std::int32_t reading_width_units = 0;
};

struct FormLayout {
  std::vector<LayoutBox> boxes;  // one per control, in the client area
  std::int32_t client_width = 0;
  std::int32_t client_height = 0;
};

// The text as a label or button shows it: "&x" is "x", "&&" is "&", unless
// `literal`.
std::u16string ShownText(std::u16string_view text, bool literal);

// The controls of `form` laid out with the font `measure` describes, at `dpi`,
// in a client area at least `least_width` wide (room for the window's title).
FormLayout LayOutForm(const Form& form, const TextMeasure& measure, std::uint32_t dpi,
                      std::int32_t least_width = 0);

}  // namespace lumora
