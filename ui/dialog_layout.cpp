#include "ui/dialog_layout.h"

#include <algorithm>

namespace lumora {

DialogPlacement PlaceDialog(std::int32_t width, std::int32_t height, std::optional<DialogRect> owner_rect,
                            std::optional<DialogRect> work_area) {
  const bool on_owner =
      owner_rect && owner_rect->width() >= kMinOwnerSide && owner_rect->height() >= kMinOwnerSide;
  const DialogRect area = on_owner ? *owner_rect : work_area.value_or(kFallbackWorkArea);
  // 64 bits in between, so that rectangles at the far ends of the coordinate
  // range cannot overflow the sum.
  const auto centre = [](std::int32_t start, std::int32_t extent, std::int32_t size) {
    return static_cast<std::int32_t>(std::int64_t{start} + (std::int64_t{extent} - size) / 2);
  };
  std::int32_t x = centre(area.left, area.width(), width);
  std::int32_t y = centre(area.top, area.height(), height);
  if (!on_owner) {
    // A dialog bigger than the screen (a very large text size on a small
    // screen) keeps its title bar and left edge on it, to be moved by.
    x = std::max(x, area.left);
    y = std::max(y, area.top);
  }
  return {{x, y, width, height}, on_owner};
}

}  // namespace lumora
