// The sidebar's application icon as a hidden switch: a quick series of clicks on it toggles
// tester mode.
#pragma once

namespace tolvane {

/// Counts clicks that follow each other closely. A click that comes more than the allowed gap
/// after the previous one starts a new series; a series that reaches its length completes and
/// the count starts again from zero.
class TesterModeIcon {
 public:
  TesterModeIcon(int clicksInSeries, double maxGapSeconds)
      : clicksInSeries_(clicksInSeries), maxGapSeconds_(maxGapSeconds) {}

  /// A click at `now` (seconds on the deadline clock); true when it completes a series.
  bool click(double now) {
    if (count_ > 0 && now - lastClick_ > maxGapSeconds_) count_ = 0;
    lastClick_ = now;
    if (++count_ < clicksInSeries_) return false;
    count_ = 0;
    return true;
  }

 private:
  int clicksInSeries_;
  double maxGapSeconds_;
  int count_ = 0;
  double lastClick_ = 0;
};

}  // namespace tolvane
