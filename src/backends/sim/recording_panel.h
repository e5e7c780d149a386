// What every simulated panel does with what the core shows: it keeps the last view and counts
// shows and hides, for tests and scenarios to read.
#pragma once

#include <optional>

namespace tolvane::sim {

template <class Panel, class View>
class RecordingPanel : public Panel {
 public:
  void show(const View& view) override {
    last = view;
    visible = true;
    ++shows;
  }
  void hide() override {
    visible = false;
    ++hides;
  }
  bool isVisible() const override { return visible; }

  std::optional<View> last;
  bool visible = false;
  int shows = 0;
  int hides = 0;
};

}  // namespace tolvane::sim
