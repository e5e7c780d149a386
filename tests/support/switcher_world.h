// The desktop world with the whole switcher built on it: tap, HUD, guard and engine.
#pragma once

#include "backends/sim/sim_event_tap.h"
#include "backends/sim/sim_switcher_panel.h"
#include "backends/sim/sim_system.h"
#include "input/switcher_engine.h"
#include "support/desktop_world.h"
#include "support/manual_ticker.h"

namespace tolvane::test {

struct SwitcherWorld : DesktopWorld {
  SwitcherWorld() {
    l10n.apply("en");
    settings.setInterceptionChangedHook([this] { engine.updateEnabled(); });
  }
  ~SwitcherWorld() { ticker.shutdown(); }

  sim::SimEventTap tap;
  sim::SimSwitcherPanel panel;
  sim::SimScreens screens;
  sim::SimRandom random;
  system::PosixFileSystem files;
  FrameworkLanguage framework{files};
  L10n l10n{preferences, framework, {}};
  SwitcherController controller{{panel, screens, loop, l10n}};
  ManualTicker ticker;  // the stall watchdog only wakes when a test ticks it
  NativeSwitcherGuard guard{{desktop, desktop, loop, clock, log, usage},
                            [this](double seconds) { ticker.sleep(seconds); }};
  SwitcherEngine engine{{settings, desktop, tap, desktop, tracker, enumerator, controller,
                         activator, guard, loop, clock, log, usage, random}};
};

}  // namespace tolvane::test
