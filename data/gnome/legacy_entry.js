// The entry point GNOME Shell 43 and 44 load: legacy imports.
/* exported init */
const {GLib, Gio, Meta, Shell, St, Clutter, Cogl} = imports.gi;
const Main = imports.ui.main;
const PanelMenu = imports.ui.panelMenu;
const PopupMenu = imports.ui.popupMenu;
const Config = imports.misc.config;
const Me = imports.misc.extensionUtils.getCurrentExtension();

function init() {
    let extension = null;
    return {
        enable() {
            extension = Me.imports.tolvane.tolvaneExtension({GLib, Gio, Meta, Shell, St, Clutter,
                Cogl, Main, PanelMenu, PopupMenu, shellVersion: Config.PACKAGE_VERSION});
            extension.enable();
        },
        disable() {
            extension?.disable();
            extension = null;
        },
    };
}
