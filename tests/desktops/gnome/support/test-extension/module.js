// GNOME Shell 45 and later: an ES module.
import Gio from 'gi://Gio';
import * as Main from 'resource:///org/gnome/shell/ui/main.js';
import { Extension } from 'resource:///org/gnome/shell/extensions/extension.js';

export default class TestTools extends Extension {
  enable() {
    this._tools = testTools();
    this._tools.enable();
  }

  disable() {
    this._tools.disable();
    this._tools = null;
  }
}
