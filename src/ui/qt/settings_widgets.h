// The building blocks of the settings and onboarding windows: labels, a switch, capsule
// buttons, status badges, key chips, icon chips,
// dividers and cards. Each paints itself from the widget's palette, so it follows the light or
// dark appearance, and calls back only for what the user did, never for a value set by code.
#pragma once

#include <QAbstractButton>
#include <QIcon>
#include <QLabel>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "ui/qt/hotkey_recorder_widget.h"
#include "views/paint.h"
#include "views/settings_window_view.h"

class QPainter;
class QVBoxLayout;

namespace tolvane::qt {

/// What every control of the settings window and the guide shares when it paints: pills of
/// one height and padding, the theme colour of `paint` for `widget`, and antialiasing with the
/// faded look of a disabled control.
inline constexpr int kPillHeight = 26;
inline constexpr int kPillPadding = 14;
QColor controlColour(Paint paint, const QWidget& widget);
void beginControlPainting(QPainter& painter, const QWidget& widget);

/// Text from a description as a QString: malformed UTF-8 becomes U+FFFD.
QString fromUtf8(const std::string& text);

/// A label whose text is never read as rich text (names come from desktop files) and whose
/// colour is a semantic paint resolved at each paint, so it follows the appearance.
class TextLabel final : public QLabel {
  Q_OBJECT

 public:
  explicit TextLabel(QWidget* parent = nullptr, Paint paint = {SemanticColor::primary, 1.0});
  /// Sets the text and hides the label while the text is empty.
  void setUtf8(const std::string& text);
  void setPaint(Paint paint);
  /// The font of the label's base font at `pointDelta` points more and `weight`.
  void setStyle(double pointDelta, QFont::Weight weight);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Paint paint_;
};

/// An on/off switch: a track with a sliding knob.
class SwitchControl final : public QAbstractButton {
  Q_OBJECT

 public:
  explicit SwitchControl(QWidget* parent = nullptr);
  /// Called with the new state when the user flips the switch.
  void setToggleHandler(std::function<void(bool)> handler) { toggled_ = std::move(handler); }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::function<void(bool)> toggled_;
};

/// A capsule button, filled with the accent colour or tinted.
class PillButton final : public QAbstractButton {
  Q_OBJECT

 public:
  explicit PillButton(QWidget* parent = nullptr);
  void setFilled(bool filled);
  void setAction(std::function<void()> action) { action_ = std::move(action); }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool filled_ = false;
  std::function<void()> action_;
};

/// "Granted", "Not granted" or "Always on": a tinted capsule with its text.
class StatusBadge final : public QWidget {
  Q_OBJECT

 public:
  explicit StatusBadge(QWidget* parent = nullptr);
  void setBadge(SettingsBadge::Kind kind, const std::string& text);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  SettingsBadge::Kind kind_ = SettingsBadge::Kind::alwaysOn;
  QString text_;
};

/// Key caps of a combination: the recorder's chips without the recorder's frame.
HotkeyRecorderView keyChipsView(std::vector<std::string> chips);
HotkeyRecorderWidget* makeKeyChips(QWidget* parent);

/// A freedesktop theme icon drawn in white on a small rounded square of `colour`; the first
/// letter of `fallback` when the theme has no such icon.
void paintIconChip(QPainter& painter, const QRectF& rect, const QIcon& icon,
                   const QString& fallback, const QColor& colour);

/// The thin line between two items of a card.
class RowDivider final : public QWidget {
  Q_OBJECT

 public:
  explicit RowDivider(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

/// A rounded group drawn behind its children, which go into `content()`.
class CardBox final : public QWidget {
  Q_OBJECT

 public:
  explicit CardBox(QWidget* parent = nullptr);
  QVBoxLayout* content() const { return content_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QVBoxLayout* content_;
};

/// Takes `widget` off the screen now and deletes it once the current event is handled: the
/// action that led here may be running inside one of its controls.
void retireWidget(QWidget* widget);

/// Paints the application's own icon into `rect`: the window icon Qt was given, else the
/// theme's settings icon, else the first letter of the application's name on an accent chip.
void paintApplicationIcon(QPainter& painter, const QRect& rect, const QPalette& palette);

/// The application's own icon, `side` points square.
class ApplicationIconWidget final : public QWidget {
  Q_OBJECT

 public:
  explicit ApplicationIconWidget(int side, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace tolvane::qt
