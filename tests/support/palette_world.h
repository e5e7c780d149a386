// The switcher world with the search palette built on it: panel, key monitor and controller,
// its snapshot taken from the world's enumerator and its keyboard hold told to the guard.
#pragma once

#include "input/hotkey_recorder.h"
#include "input/native_switcher_guard.h"
#include "palette/palette_controller.h"
#include "palette/palette_snapshot.h"
#include "platform/sim/sim_key_monitor.h"
#include "platform/sim/sim_palette_panel.h"
#include "support/switcher_world.h"

namespace tolvane::test {

struct PaletteWorld : SwitcherWorld {
  sim::SimPalettePanel palettePanel;
  sim::SimKeyMonitor keys;
  PaletteController palette{{
      .panel = palettePanel,
      .keyMonitor = keys,
      .screens = screens,
      .runLoop = loop,
      .clock = clock,
      .l10n = l10n,
      .accessibility = desktop,
      .activator = activator,
      .usage = usage,
      .random = random,
      .log = log,
      .snapshot =
          [this] {
            return takePaletteSnapshot({desktop, desktop, resolver, enumerator, settings, clock});
          },
      .hotKeyText = [this] { return paletteComboText(settings); },
      .switcherSessionActive = [this] { return engine.isActive(); },
      .holdKeyboard = [this](bool held) { guard.setKeyboardHeld(KeyboardHolder::palette, held); },
  }};
};

}  // namespace tolvane::test
