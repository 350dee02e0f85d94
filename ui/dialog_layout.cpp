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
  return {{centre(area.left, area.width(), width), centre(area.top, area.height(), height), width, height},
          on_owner};
}

}  // namespace lumora
