#include "ui/dialog_layout.h"

#include <algorithm>

#include "overlay/dpi.h"

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

ContactLayout LayOutContactDialog(std::int32_t client_width, std::int32_t client_height, std::uint32_t dpi) {
  const auto s = [dpi](std::int32_t n) { return ScaleForDpi(n, dpi); };
  const std::int32_t margin = s(20);
  const std::int32_t gap = s(16);
  const std::int32_t caption_height = s(36);
  const std::int32_t button_width = s(88);
  const std::int32_t button_height = s(28);
  const std::int32_t largest_image = s(360);

  ContactLayout layout;
  layout.caption = {margin, margin, client_width - 2 * margin, caption_height};
  layout.close_button = {(client_width - button_width) / 2, client_height - button_height - margin,
                         button_width, button_height};
  const std::int32_t top = margin + caption_height + gap;
  const std::int32_t room_height = std::max(client_height - top - button_height - gap - margin, 0);
  const std::int32_t room_width = std::max(client_width - 2 * margin, 0);
  layout.image_size = std::min({largest_image, room_height, room_width});
  layout.image_x = (client_width - layout.image_size) / 2;
  layout.image_y = top + (room_height - layout.image_size) / 2;
  return layout;
}

}  // namespace lumora
