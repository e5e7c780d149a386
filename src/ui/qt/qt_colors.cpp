// Semantic colours mapped onto the Qt palette and the theme.
#include "ui/qt/qt_colors.h"

#include <algorithm>

#include "settings/theme.h"

namespace tolvane::qt {

namespace {

// The secondary label is the primary one, dimmed: it stays legible over the backdrop in both
// appearances without a second palette role to keep in step.
constexpr double kSecondaryAlpha = 0.55;
// No blur behind the panel on X11, so the backdrop stays nearly opaque to keep text legible.
constexpr double kTranslucentBackdropAlpha = 0.94;

QColor fromTheme(const Color& color) {
  return QColor::fromRgbF(static_cast<float>(color.red), static_cast<float>(color.green),
                          static_cast<float>(color.blue), static_cast<float>(color.alpha));
}

QColor baseColor(SemanticColor color, const QPalette& palette) {
  switch (color) {
    case SemanticColor::primary:
      return palette.color(QPalette::Active, QPalette::WindowText);
    case SemanticColor::secondary: {
      QColor text = palette.color(QPalette::Active, QPalette::WindowText);
      text.setAlphaF(static_cast<float>(text.alphaF() * kSecondaryAlpha));
      return text;
    }
    case SemanticColor::white:
      return QColor(Qt::white);
    case SemanticColor::clear:
      return QColor(Qt::transparent);
    case SemanticColor::accent:
      return fromTheme(theme::kAccent);
    case SemanticColor::warn:
      return fromTheme(theme::kWarn);
  }
  return QColor(Qt::transparent);
}

}  // namespace

QColor toQColor(const Paint& paint, const QPalette& palette) {
  QColor color = baseColor(paint.color, palette);
  // Written so that a NaN opacity paints nothing rather than reaching Qt.
  const double opacity = paint.opacity >= 0 ? std::min(paint.opacity, 1.0) : 0.0;
  color.setAlphaF(static_cast<float>(color.alphaF() * opacity));
  return color;
}

QColor panelBackdrop(const QPalette& palette, bool translucent) {
  QColor color = palette.color(QPalette::Active, QPalette::Window);
  color.setAlphaF(translucent ? static_cast<float>(kTranslucentBackdropAlpha) : 1.0f);
  return color;
}

}  // namespace tolvane::qt
