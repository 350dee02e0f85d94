#pragma once

// Where the dialogs go, as a plain function of sizes, so that it is checked
// without a desktop.

#include <cstdint>
#include <optional>

namespace lumora {

// A rectangle given by its edges (right and bottom exclusive).
struct DialogRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;

  std::int32_t width() const { return right - left; }
  std::int32_t height() const { return bottom - top; }
  friend bool operator==(const DialogRect&, const DialogRect&) = default;
};

// A rectangle given by its corner and size.
struct LayoutBox {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  friend bool operator==(const LayoutBox&, const LayoutBox&) = default;
};

// An owner smaller than this either way is not a window to centre on: the
// host's hidden window has no size at all.
inline constexpr std::int32_t kMinOwnerSide = 200;
// Where a dialog goes when not even the work area is known.
inline constexpr DialogRect kFallbackWorkArea{0, 0, 1280, 800};

struct DialogPlacement {
  LayoutBox window;    // outer rectangle on the screen
  bool disable_owner;  // the owner is a real window, modal to the dialog
  friend bool operator==(const DialogPlacement&, const DialogPlacement&) = default;
};

// A dialog of `width` x `height` centred on its owner's rectangle when the
// owner has one of at least kMinOwnerSide both ways, else on the work area,
// else on kFallbackWorkArea. Halves truncate toward zero. Off an owner, a
// dialog bigger than the area starts at its top left.
DialogPlacement PlaceDialog(std::int32_t width, std::int32_t height, std::optional<DialogRect> owner_rect,
                            std::optional<DialogRect> work_area);

}  // namespace lumora
