// The search palette on the Qt desktop: an override-redirect window that paints the core's
// description of the palette, takes the keyboard and the pointer through an input grab without
// becoming the window manager's active window, and reports edits, clicks and resignation.
#pragma once

#include <QPointer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/input_grab.h"
#include "platform/palette_panel.h"
#include "ui/qt/app_icons.h"
#include "views/palette_panel_view.h"

class QLineEdit;
class QObject;
class QWidget;

namespace tolvane::qt {

class PaletteWidget;

/// Main thread only; needs a QApplication. The window is created on the first show and kept
/// (made again when a compositor starts or stops, as the HUD's). While shown it holds the input
/// grab; when the grab cannot be had within kGrabAttempts tries kGrabRetryMs apart (another
/// program holds the keyboard), or is lost, or the user clicks outside, the panel reports
/// resignation and the core closes it.
class QtPalettePanel final : public PalettePanel {
 public:
  static constexpr int kGrabAttempts = 6;
  static constexpr int kGrabRetryMs = 20;

  using CompositorProbe = std::function<bool()>;
  using Log = std::function<void(std::string_view line)>;

  /// `grab` (which must outlive the panel) takes the keyboard and the pointer for the window;
  /// without one the panel takes nothing, as under a platform without a display server.
  /// Without a `compositor` to ask, the panel is the opaque window, right on every desktop.
  explicit QtPalettePanel(InputGrab* grab = nullptr, CompositorProbe compositor = {}, Log log = {});
  ~QtPalettePanel() override;
  QtPalettePanel(const QtPalettePanel&) = delete;
  QtPalettePanel& operator=(const QtPalettePanel&) = delete;

  void show(const PalettePanelView& view) override;
  void hide() override;
  bool isVisible() const override;
  void setQueryHandler(std::function<void(const std::string& query)> handler) override;
  void setRowClickHandler(std::function<void(int row, int clickCount)> handler) override;
  void setResignHandler(std::function<void()> handler) override;

  /// Where icons come from before the icon theme is asked: the workspace's application icons
  /// and the windows' own.
  void setIconSources(AppIcons::Source applications, AppIcons::WindowSource windows);

  /// The panel's window and its search field (nothing before the first show), for screenshots
  /// and tests.
  QWidget* window() const;
  QLineEdit* searchField() const;

 private:
  void ensureWidget(bool translucent);
  void startGrab();
  void tryGrab(std::uint64_t round, int attempt);
  /// Reports resignation once the current event has been handled, if the panel is still shown.
  void resignLater(const char* reason);

  InputGrab* grab_;
  CompositorProbe compositor_;
  Log log_;
  AppIcons::Source applicationIcons_;
  AppIcons::WindowSource windowIcons_;
  std::function<void(const std::string&)> query_;
  std::function<void(int, int)> rowClick_;
  std::function<void()> resign_;
  std::unique_ptr<PaletteWidget> widget_;
  /// The context of deferred calls: they are dropped with the panel.
  std::unique_ptr<QObject> deferred_;
  /// Counts closings, so that a resignation scheduled while an earlier opening was shown does
  /// nothing.
  std::uint64_t closings_ = 0;
  /// Counts grab attempts begun and ended, so that a retry of an earlier one does nothing.
  std::uint64_t grabRound_ = 0;
};

}  // namespace tolvane::qt
