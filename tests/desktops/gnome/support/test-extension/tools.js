// Test-only: opens the Shell's Eval and Screenshot calls to the harness (unsafe mode), leaves
// the overview the Shell starts in, where a new window would get no focus, and then owns a bus
// name, the harness's sign that windows can come. Windows appear, minimize and close without
// effects: a window fading in is not yet in a screenshot taken once it has the focus.
// Either entry point comes before this in the built extension.js: it brings `Gio` and `Main`.
function testTools() {
  const READY_NAME = 'com.brenmoor.TolvaneTestTools';
  let owner = 0;
  let startup = 0;
  let animates = null;
  const ready = () => {
    owner = Gio.bus_own_name(Gio.BusType.SESSION, READY_NAME, Gio.BusNameOwnerFlags.NONE,
      null, null, null);
  };
  const leaveOverview = () => {
    if (!Main.overview.visible) {
      ready();
      return;
    }
    const hidden = Main.overview.connect('hidden', () => {
      Main.overview.disconnect(hidden);
      ready();
    });
    Main.overview.hide();
  };
  return {
    enable() {
      global.context.unsafe_mode = true;
      animates = Main.wm._shouldAnimate;
      Main.wm._shouldAnimate = () => false;
      if (Main.layoutManager._startingUp)
        startup = Main.layoutManager.connect('startup-complete', leaveOverview);
      else
        leaveOverview();
    },
    disable() {
      if (animates)
        Main.wm._shouldAnimate = animates;
      if (startup)
        Main.layoutManager.disconnect(startup);
      if (owner)
        Gio.bus_unown_name(owner);
      startup = owner = 0;
      animates = null;
    },
  };
}
