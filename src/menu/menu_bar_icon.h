// The tray icon's drawing: two windows, an arrow unless switching is paused, and a hole at the
// top right where the alert dot sits.
#pragma once

#include "views/status_item_view.h"

namespace tolvane::MenuBarIcon {

/// The icon's side in units; backends scale the drawing to the tray's size.
inline constexpr double kSize = 16;
/// The alert dot's centre, in the icon's unscaled units: the centre of the hole.
inline constexpr Point kBadgeCenter{13, 3.1};
/// The alert dot's diameter for an icon of `iconSize` (5.8 for 16).
constexpr double badgeDiameter(double iconSize) {
  return iconSize * 0.0625 * 5.8;
}

/// The drawing for `state`; `badged` cuts the hole the alert dot fills.
VectorIcon describe(MenuBarIconState state, bool badged);

/// One beat of the alert dot: a deep and a shallow pulse, then a rest for the last 40 %.
inline constexpr double kPulsePeriodSeconds = 1.6;
/// The dot's scale (1 at rest) `seconds` into the beat, which repeats forever.
double pulseScale(double seconds);
/// How long each frame of the beat a backend plays lasts: 20 frames a beat, smooth enough for
/// a dot of a few pixels and cheap to repaint.
inline constexpr double kPulseFrameSeconds = 0.08;
/// The beat sampled at the start of each frame.
std::vector<double> pulseFrames();

}  // namespace tolvane::MenuBarIcon
