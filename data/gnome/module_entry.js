// The entry point GNOME Shell 45 and later load: an ES module.
import GLib from 'gi://GLib';
import Gio from 'gi://Gio';
import Meta from 'gi://Meta';
import Shell from 'gi://Shell';
import St from 'gi://St';
import Clutter from 'gi://Clutter';
import Cogl from 'gi://Cogl';
import * as Main from 'resource:///org/gnome/shell/ui/main.js';
import * as PanelMenu from 'resource:///org/gnome/shell/ui/panelMenu.js';
import * as PopupMenu from 'resource:///org/gnome/shell/ui/popupMenu.js';
import * as Config from 'resource:///org/gnome/shell/misc/config.js';
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';
import {tolvaneExtension} from './tolvane.js';

export default class TolvaneExtension extends Extension {
    enable() {
        this._tolvane = tolvaneExtension({GLib, Gio, Meta, Shell, St, Clutter, Cogl, Main,
            PanelMenu, PopupMenu, shellVersion: Config.PACKAGE_VERSION});
        this._tolvane.enable();
    }

    disable() {
        this._tolvane?.disable();
        this._tolvane = null;
    }
}
