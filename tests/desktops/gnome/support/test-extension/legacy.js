// GNOME Shell 43 and 44: legacy imports.
const { Gio } = imports.gi;
const Main = imports.ui.main;

function init() {
  return testTools();
}
