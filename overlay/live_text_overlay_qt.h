#pragma once

#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <string>

#include "config/app_config.h"
#include "overlay/live_text_view.h"
#include "overlay/overlay_layout.h"

namespace lumora {

// Text that has not changed for this long is taken off the screen, as on
// Windows: a phone that vanished mid-utterance leaves no window on top.
inline constexpr int kOverlayQtFrameMs = 33;
inline constexpr int kOverlayQtStaleMs = 30000;
inline constexpr char kOverlayQtObjectName[] = "Lumora.LiveTextOverlay";

// The floating window that shows the text being dictated, on X11: frameless,
// override-redirect (no window manager places, decorates or focuses it), on
// top, with an empty input shape so that clicks fall through to the window
// below, never active. Laid out by the portable overlay layout and drawn with
// QPainter; translucent where a compositor runs. The voice indicator's timer
// runs only while the window is shown. UI thread only.
class LiveTextOverlayQt final : public QWidget, public LiveTextView {
 public:
  LiveTextOverlayQt();
  ~LiveTextOverlayQt() override;

  void ShowText(const std::string& text) override;
  void Hide() override;
  // Stored while hidden, used at the next ShowText; redrawn at once while shown.
  void SetThemeColor(OverlayThemeColor theme);
  void SetPosition(OverlayPosition position);

  const OverlayLayout& layout() const { return layout_; }
  std::uint32_t frame() const { return frame_; }
  bool animating() const { return animation_.isActive(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void LayOut();

  QString text_;
  bool shown_ = false;
  OverlayThemeColor theme_ = OverlayThemeColor::White;
  OverlayPosition position_ = OverlayPosition::Center;
  OverlayLayout layout_;
  // Only ever incremented, so that the indicator goes on from its phase.
  std::uint32_t frame_ = 0;
  QTimer animation_;
  QTimer stale_;
};

}  // namespace lumora
