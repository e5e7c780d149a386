// The tray icon's paths, in the 16-unit square before the 0.8 scale.
#include "menu/menu_bar_icon.h"

#include <array>
#include <cmath>

namespace tolvane::MenuBarIcon {

namespace {

using Op = PathElement::Op;

PathElement moveTo(double x, double y) {
  return {Op::move, {x, y}, {}, {}};
}
PathElement lineTo(double x, double y) {
  return {Op::line, {x, y}, {}, {}};
}
PathElement curveTo(Point to, Point c1, Point c2) {
  return {Op::curve, to, c1, c2};
}

/// An open outline: the corner hidden behind the front window is left out.
std::vector<PathElement> backWindow() {
  return {moveTo(4.5, 11.5),
          lineTo(4.0, 11.5),
          curveTo({2.0, 9.5}, {2.9028, 11.5}, {2.0, 10.5972}),
          lineTo(2.0, 4.5),
          curveTo({4.0, 2.5}, {2.0, 3.4028}, {2.9028, 2.5}),
          lineTo(12.0, 2.5),
          curveTo({14.0, 4.5}, {13.0972, 2.5}, {14.0, 3.4028}),
          lineTo(14.0, 5.0)};
}

/// A closed rectangle from (7, 7.5) to (18, 17.5) with corners of radius 2.
std::vector<PathElement> frontWindow() {
  return {moveTo(9, 7.5),
          lineTo(16, 7.5),
          curveTo({18, 9.5}, {17.1046, 7.5}, {18, 8.3954}),
          lineTo(18, 15.5),
          curveTo({16, 17.5}, {18, 16.6046}, {17.1046, 17.5}),
          lineTo(9, 17.5),
          curveTo({7, 15.5}, {7.8954, 17.5}, {7, 16.6046}),
          lineTo(7, 9.5),
          curveTo({9, 7.5}, {7, 8.3954}, {7.8954, 7.5}),
          {Op::close, {}, {}, {}}};
}

std::vector<PathElement> arrow() {
  return {moveTo(10, 12.5), lineTo(15, 12.5), moveTo(13, 10.5), lineTo(15, 12.5), lineTo(13, 14.5)};
}

struct KeyFrame {
  double time;
  double scale;
};
constexpr std::array<KeyFrame, 6> kBeat{
    {{0, 1.0}, {0.12, 0.74}, {0.28, 1.0}, {0.42, 0.82}, {0.6, 1.0}, {1.0, 1.0}}};

/// The ease-in-ease-out curve, the cubic Bézier through (0.42, 0) and (0.58, 1): the eased
/// progress at `progress`. The curve's x grows monotonically, so bisection finds its parameter.
double easeInEaseOut(double progress) {
  const auto bezier = [](double t, double p1, double p2) {
    const double u = 1 - t;
    return 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t;
  };
  double low = 0, high = 1;
  for (int i = 0; i < 30; ++i) {
    const double mid = (low + high) / 2;
    (bezier(mid, 0.42, 0.58) < progress ? low : high) = mid;
  }
  return bezier((low + high) / 2, 0, 1);
}

}  // namespace

double pulseScale(double seconds) {
  double progress = std::fmod(seconds, kPulsePeriodSeconds) / kPulsePeriodSeconds;
  if (progress < 0) progress += 1;
  // The easing spans the whole beat; the key frames are joined linearly on the eased time.
  const double time = easeInEaseOut(progress);
  for (std::size_t i = 1; i < kBeat.size(); ++i) {
    if (time > kBeat[i].time) continue;
    const KeyFrame& from = kBeat[i - 1];
    const KeyFrame& to = kBeat[i];
    return from.scale + (to.scale - from.scale) * (time - from.time) / (to.time - from.time);
  }
  return kBeat.back().scale;
}

std::vector<double> pulseFrames() {
  std::vector<double> frames;
  const auto count = static_cast<int>(std::lround(kPulsePeriodSeconds / kPulseFrameSeconds));
  for (int i = 0; i < count; ++i) frames.push_back(pulseScale(i * kPulseFrameSeconds));
  return frames;
}

VectorIcon describe(MenuBarIconState state, bool badged) {
  VectorIcon icon{.size = kSize, .scale = 0.8, .lineWidth = 1.5};
  icon.paths = {backWindow(), frontWindow()};
  // A paused switcher is the two windows alone; a missing permission keeps the arrow and is
  // told by the alert dot.
  if (state != MenuBarIconState::paused) icon.paths.push_back(arrow());
  if (badged) icon.hole = Rect{9, -0.9, 8, 8};
  return icon;
}

}  // namespace tolvane::MenuBarIcon
