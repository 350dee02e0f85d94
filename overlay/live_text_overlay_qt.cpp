#include "overlay/live_text_overlay_qt.h"

#include <QColor>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

#include <algorithm>
#include <cmath>

#include "overlay/active_window_x11.h"

namespace lumora {
namespace {

// The layout works at 96 DPI in Qt's logical pixels; Qt scales the window
// and its painting to the screen itself.
constexpr std::uint32_t kLogicalDpi = 96;

QColor ToColor(std::uint32_t argb) {
  return QColor(static_cast<int>((argb >> 16) & 0xFF), static_cast<int>((argb >> 8) & 0xFF),
                static_cast<int>(argb & 0xFF), static_cast<int>(argb >> 24));
}

QFont OverlayFont(std::int32_t pixels) {
  QFont font;
  // The CJK faces of the desktops we meet, then whatever sans-serif face
  // fontconfig offers for the text's characters.
  font.setFamilies({QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Source Han Sans SC"),
                    QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("WenQuanYi Micro Hei"),
                    QStringLiteral("sans-serif")});
  font.setPixelSize(std::max(1, pixels));
  return font;
}

constexpr int kTextFlags = Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop;

ScreenRect ToScreenRect(const QRect& rect) {
  return ScreenRect{rect.left(), rect.top(), rect.left() + rect.width(), rect.top() + rect.height()};
}

}  // namespace

LiveTextOverlayQt::LiveTextOverlayQt()
    : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool |
                           Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput |
                           Qt::X11BypassWindowManagerHint) {
  setObjectName(QString::fromLatin1(kOverlayQtObjectName));
  setAttribute(Qt::WA_TranslucentBackground);
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_X11DoNotAcceptFocus);
  setFocusPolicy(Qt::NoFocus);
  setWindowOpacity(kOverlayConstantAlpha / 255.0);
  animation_.setInterval(kOverlayQtFrameMs);
  connect(&animation_, &QTimer::timeout, this, [this] {
    ++frame_;
    const ScreenRect dirty = IndicatorDirtyRect(layout_);
    update(QRect(dirty.left, dirty.top, dirty.width(), dirty.height()));
  });
  stale_.setSingleShot(true);
  stale_.setInterval(kOverlayQtStaleMs);
  connect(&stale_, &QTimer::timeout, this, [this] { Hide(); });
}

LiveTextOverlayQt::~LiveTextOverlayQt() = default;

void LiveTextOverlayQt::ShowText(const std::string& text) {
  if (text.empty()) {
    Hide();
    return;
  }
  text_ = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  shown_ = true;
  LayOut();
  stale_.start();
  if (!animation_.isActive()) {
    animation_.start();
  }
  show();
  update();
}

void LiveTextOverlayQt::Hide() {
  shown_ = false;
  animation_.stop();
  stale_.stop();
  hide();
}

void LiveTextOverlayQt::SetThemeColor(OverlayThemeColor theme) {
  theme_ = theme;
  if (shown_) {
    update();
  }
}

void LiveTextOverlayQt::SetPosition(OverlayPosition position) {
  position_ = position;
  if (shown_) {
    LayOut();
    update();
  }
}

void LiveTextOverlayQt::LayOut() {
  // On the screen of the window the user works in; the primary one when
  // nothing is in front.
  QScreen* screen = nullptr;
  if (const std::optional<QPoint> centre = ActiveWindowCentre()) {
    screen = QGuiApplication::screenAt(*centre / std::max(1.0, devicePixelRatioF()));
  }
  if (screen == nullptr) {
    screen = QGuiApplication::primaryScreen();
  }
  const ScreenRect work_area = screen != nullptr ? ToScreenRect(screen->availableGeometry()) : ScreenRect{0, 0, 1024, 768};
  const OverlayMetrics metrics = MetricsForDpi(kLogicalDpi);
  const QFontMetricsF font_metrics(OverlayFont(metrics.font_size));
  const std::int32_t max_width = MaxTextWidth(kLogicalDpi, work_area);
  const QRectF bounds = font_metrics.boundingRect(QRectF(0, 0, max_width, 1e7), kTextFlags, text_);
  MeasuredText measured;
  measured.width = static_cast<float>(bounds.width());
  measured.height = static_cast<float>(bounds.height());
  measured.lines = static_cast<std::int32_t>(std::lround(bounds.height() / std::max(1.0, font_metrics.lineSpacing())));
  layout_ = LayOutOverlay(kLogicalDpi, work_area, measured, position_);
  setGeometry(layout_.x, layout_.y, layout_.width, layout_.height);
}

void LiveTextOverlayQt::paintEvent(QPaintEvent* /*event*/) {
  const OverlayMetrics metrics = MetricsForDpi(kLogicalDpi);
  const OverlayPalette palette = PaletteForTheme(theme_);
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.fillRect(rect(), Qt::transparent);
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);

  const QRectF panel(metrics.shadow_margin, metrics.shadow_margin, width() - 2.0 * metrics.shadow_margin,
                     height() - 2.0 * metrics.shadow_margin);
  // A soft shadow: rings of falling opacity, dropped a little downwards.
  painter.setPen(Qt::NoPen);
  for (int step = metrics.shadow_steps; step > 0; --step) {
    const double grow = step;
    painter.setBrush(QColor(0, 0, 0, std::max(1, 40 / std::max(1, metrics.shadow_steps))));
    painter.drawRoundedRect(panel.adjusted(-grow, -grow + metrics.shadow_drop, grow, grow + metrics.shadow_drop),
                            metrics.corner_radius + grow, metrics.corner_radius + grow);
  }
  painter.setBrush(ToColor(palette.panel));
  painter.setPen(QPen(ToColor(palette.outline), metrics.border_width));
  painter.drawRoundedRect(panel, metrics.corner_radius, metrics.corner_radius);

  painter.setPen(ToColor(palette.text));
  painter.setFont(OverlayFont(metrics.font_size));
  painter.save();
  painter.setClipRect(layout_.clip.x, layout_.clip.y, layout_.clip.width, layout_.clip.height);
  const BoxI& box = layout_.text_box;
  painter.drawText(QRectF(box.x, box.y - layout_.text_scroll, box.width, box.height + layout_.text_scroll),
                   kTextFlags, text_);
  painter.restore();

  painter.setPen(Qt::NoPen);
  painter.setBrush(ToColor(palette.bars));
  for (const BoxI& bar : IndicatorBars(metrics, layout_, frame_)) {
    painter.drawRect(bar.x, bar.y, bar.width, bar.height);
  }
}

}  // namespace lumora
