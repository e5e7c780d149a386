// Tolvane's part of GNOME Shell: it lends Tolvane what only the Shell can do on Wayland (the
// windows, the trigger keys, a keyboard grab, a place on screen for a panel, a top-bar menu) and
// decides nothing. Every call to Tolvane is asynchronous with a timeout; a Tolvane that has gone,
// paused or stopped answering gets no key of the user's: GNOME's own handlers take them.
//
// One source for every Shell: the entry point (legacy imports, or an ES module from GNOME 45 on)
// passes the libraries in `api`; the build turns this file into either kind of module.
//
//   what Tolvane asks for         | what the Shell does
//   ------------------------------+-----------------------------------------------------------
//   Windows, Monitors             | display.get_tab_list(NORMAL_ALL) (MRU), display monitors
//   Activate, Close, SetMinimized | unminimize + Main.activateWindow, delete, (un)minimize
//   Bind(accelerator, word)       | GNOME's binding holding that combination taken over with
//                                 | setCustomKeybindingHandler, else display.grab_accelerator
//   Grab, Release                 | Main.pushModal on an invisible actor / popModal
//   ShowPanel, HidePanel          | an St.ImageContent of Tolvane's pixels above the windows
//   SetMenu                       | a top-bar button whose menu lists the entries
//
// And what it tells Tolvane: Triggered, Key, GrabEnded, WindowChanged, WindowClosed,
// MonitorsChanged, Clicked, PanelShown, MenuActivated, MenuOpening, MenuClosed, Ping.

function tolvaneExtension(api) {
    const {GLib, Gio, Meta, Shell, St, Clutter, Cogl, Main, PanelMenu, PopupMenu, shellVersion} = api;

    const SHELL_PATH = '/com/brenmoor/Tolvane/Shell';
    const TOLVANE_PATH = '/com/brenmoor/Tolvane/Desktop';
    const TOLVANE_IFACE = 'com.brenmoor.Tolvane.Desktop1';
    // A call Tolvane has not answered by then means it is stopped or stalled. The bus's own
    // timeout is longer, so that the heartbeat sees the silence before the call is given up.
    const ANSWER_MS = 1000;
    const CALL_TIMEOUT_MS = 3 * ANSWER_MS;
    const HEARTBEAT_MS = 250;
    // What is taken from Tolvane is bounded before use.
    const MAX_BINDINGS = 16;
    const MAX_TEXT = 256;
    const MAX_PANEL_SIDE = 8192;
    const MAX_MENU_ENTRIES = 200;
    const MAX_MENU_DEPTH = 3;
    // Sent to Tolvane: a window's title is cut to this many characters.
    const MAX_TITLE = 1024;

    const WINDOW = '(tsssiibbbi)';
    const IFACE = `<node><interface name="com.brenmoor.Tolvane.Shell1">
  <method name="Register"><arg type="s" direction="out" name="shell_version"/></method>
  <method name="Windows"><arg type="a${WINDOW}" direction="out" name="windows"/></method>
  <method name="Monitors"><arg type="a(iiiid)" direction="out" name="monitors"/></method>
  <method name="Activate"><arg type="t" direction="in" name="id"/>
    <arg type="b" direction="out" name="done"/></method>
  <method name="Close"><arg type="t" direction="in" name="id"/>
    <arg type="b" direction="out" name="done"/></method>
  <method name="SetMinimized"><arg type="t" direction="in" name="id"/>
    <arg type="b" direction="in" name="minimized"/><arg type="b" direction="out" name="done"/></method>
  <method name="Bind"><arg type="a(ss)" direction="in" name="bindings"/>
    <arg type="as" direction="out" name="refused"/></method>
  <method name="Grab"><arg type="u" direction="out" name="serial"/>
    <arg type="u" direction="out" name="modifiers"/></method>
  <method name="Release"><arg type="s" direction="in" name="why"/></method>
  <method name="ShowPanel"><arg type="i" direction="in" name="monitor"/>
    <arg type="(iiii)" direction="in" name="bounds"/><arg type="i" direction="in" name="scale"/>
    <arg type="ay" direction="in" name="pixels"/><arg type="(iiii)" direction="in" name="input"/></method>
  <method name="HidePanel"/>
  <method name="SetMenu"><arg type="s" direction="in" name="entries"/></method>
</interface></node>`;

    // Tolvane's modifier bits, whatever Clutter calls them.
    const MOD_SHIFT = 1, MOD_CTRL = 2, MOD_ALT = 4, MOD_SUPER = 8;
    const KEY_ESCAPE = 0xff1b, KEY_ISO_LEFT_TAB = 0xfe20, KEY_TAB = 0xff09;

    function modifiersOf(state) {
        const M = Clutter.ModifierType;
        let mods = 0;
        if (state & M.SHIFT_MASK) mods |= MOD_SHIFT;
        if (state & M.CONTROL_MASK) mods |= MOD_CTRL;
        if (state & M.MOD1_MASK) mods |= MOD_ALT;
        if (state & (M.SUPER_MASK | M.MOD4_MASK)) mods |= MOD_SUPER;
        return mods;
    }

    function heldModifiers() {
        return modifiersOf(global.get_pointer()[2]);
    }

    // "<Super><Shift>Tab" and "<Shift><Super>tab" name the same keys.
    function normalAccelerator(text) {
        const mods = [];
        let rest = String(text);
        for (let m = rest.match(/^<([A-Za-z0-9_]+)>/); m; m = rest.match(/^<([A-Za-z0-9_]+)>/)) {
            let name = m[1].toLowerCase();
            if (name === 'primary' || name === 'control') name = 'ctrl';
            if (name === 'mod4' || name === 'meta') name = 'super';
            if (name === 'mod1') name = 'alt';
            mods.push(name);
            rest = rest.slice(m[0].length);
        }
        return `${[...new Set(mods)].sort().join('+')}+${rest.toLowerCase()}`;
    }

    function modifiersOfAccelerator(text) {
        const names = normalAccelerator(text).split('+').slice(0, -1);
        let mods = 0;
        for (const n of names) {
            mods |= {shift: MOD_SHIFT, ctrl: MOD_CTRL, alt: MOD_ALT, super: MOD_SUPER}[n] ?? 0;
        }
        return mods;
    }

    // Cut by characters, never inside a surrogate pair.
    function bounded(text, max) {
        const s = String(text ?? '');
        return s.length > max ? Array.from(s).slice(0, max).join('') : s;
    }

    function isListed(window) {
        const T = Meta.WindowType;
        return !window.is_override_redirect() &&
            [T.NORMAL, T.DIALOG, T.MODAL_DIALOG, T.UTILITY].includes(window.get_window_type());
    }

    function describe(window) {
        const workspace = window.is_on_all_workspaces() ? -1 : (window.get_workspace()?.index() ?? -1);
        const app = Shell.WindowTracker.get_default().get_window_app(window);
        return [
            window.get_id(), bounded(window.get_title(), MAX_TITLE),
            bounded(window.get_wm_class(), MAX_TEXT), bounded(app?.get_id(), MAX_TEXT),
            window.get_pid(), workspace, window.minimized, window.skip_taskbar,
            window.has_focus(), window.get_monitor(),
        ];
    }

    class Extension {
        constructor() {
            this._tolvane = null;          // Tolvane's unique bus name once it registered
            this._watch = 0;
            this._unanswered = new Map();  // call number → when it was sent (µs)
            this._calls = 0;
            this._answering = true;
            this._taken = [];              // GNOME bindings taken over: {name, words}
            this._grabbed = [];            // accelerators grabbed: {action, word}
            this._session = null;          // {serial, grab, modifier}
            this._serial = 0;
            this._heartbeat = 0;
            this._signals = [];
            this._windowSignals = new Map();
            this._dirty = new Set();
            this._flush = 0;
            this._layer = null;
            this._panel = null;
            this._menu = null;
            this._refusing = false;
            this._silentAfter = 0;
        }

        enable() {
            this._dbus = Gio.DBusExportedObject.wrapJSObject(IFACE, this);
            this._dbus.export(Gio.DBus.session, SHELL_PATH);
            const display = global.display;
            this._connect(display, 'window-created', (d, w) => this._track(w, true));
            this._connect(display, 'notify::focus-window', () => this._focusChanged());
            this._connect(display, 'window-entered-monitor', (d, i, w) => this._changed(w));
            this._connect(display, 'accelerator-activated',
                (d, action, device, time) => this._acceleratorActivated(action));
            this._connect(Main.layoutManager, 'monitors-changed',
                () => this._send('MonitorsChanged', null));
            for (const actor of global.get_window_actors()) this._track(actor.meta_window, false);
            this._focused = display.focus_window;
        }

        disable() {
            this._endSession('disabled');
            this._giveBack();
            this._destroyLayer();
            this._removeMenu();
            if (this._watch) Gio.bus_unwatch_name(this._watch);
            this._watch = 0;
            this._tolvane = null;
            if (this._heartbeat) GLib.source_remove(this._heartbeat);
            this._heartbeat = 0;
            for (const [object, id] of this._signals) object.disconnect(id);
            this._signals = [];
            for (const [window, ids] of this._windowSignals) ids.forEach(id => window.disconnect(id));
            this._windowSignals.clear();
            if (this._flush) GLib.source_remove(this._flush);
            this._flush = 0;
            this._dbus.unexport();
            this._dbus = null;
        }

        _connect(object, signal, handler) {
            this._signals.push([object, object.connect(signal, handler)]);
        }

        // ---- calls to Tolvane: never waited on ----

        _send(member, parameters) {
            if (!this._tolvane) return;
            const number = ++this._calls;
            this._unanswered.set(number, GLib.get_monotonic_time());
            Gio.DBus.session.call(this._tolvane, TOLVANE_PATH, TOLVANE_IFACE, member, parameters,
                null, Gio.DBusCallFlags.NO_AUTO_START, CALL_TIMEOUT_MS, null, (connection, result) => {
                    this._unanswered.delete(number);
                    try {
                        connection.call_finish(result);
                        this._answered();
                    } catch (e) {
                        // Anything but a timeout (Tolvane gone) the name watch handles.
                        if (e.matches(Gio.IOErrorEnum, Gio.IOErrorEnum.TIMED_OUT)) this._silence();
                    }
                });
        }

        _answered() {
            if (this._answering) return;
            this._answering = true;
            log(`tolvane: Tolvane answers again`);
        }

        // Whether Tolvane has left a call unanswered for longer than it may.
        _silent() {
            const now = GLib.get_monotonic_time();
            for (const sent of this._unanswered.values()) {
                if (now - sent > ANSWER_MS * 1000) return true;
            }
            return false;
        }

        _available() {
            if (this._silent()) this._silence();
            return this._tolvane !== null && this._answering;
        }

        // Tolvane is stopped or stalled: the keyboard goes back, and what it asks for once it
        // reads the keys it was sent meanwhile switches nothing late; its activations are refused
        // until it answers a ping sent after this.
        _silence() {
            if (this._answering) log('tolvane: Tolvane did not answer for 1 s: GNOME has the keys');
            this._answering = false;
            this._refusing = true;
            this._silentAfter = this._calls;
            this._endSession('silent');
            this._hidePanel();
            this._startHeartbeat();
        }

        // ---- the windows ----

        _track(window, announce) {
            if (!window || this._windowSignals.has(window)) return;
            const ids = ['notify::title', 'notify::wm-class', 'notify::minimized',
                'notify::skip-taskbar', 'workspace-changed'].map(
                signal => window.connect(signal, () => this._changed(window)));
            ids.push(window.connect('unmanaged', () => this._closed(window)));
            this._windowSignals.set(window, ids);
            if (announce) this._changed(window);
        }

        _changed(window) {
            if (!window || !this._windowSignals.has(window)) return;
            this._dirty.add(window);
            // One WindowChanged per window per turn of the Shell's loop, however many notifies.
            if (!this._flush) {
                this._flush = GLib.idle_add(GLib.PRIORITY_DEFAULT, () => {
                    this._flush = 0;
                    const windows = [...this._dirty];
                    this._dirty.clear();
                    for (const w of windows) {
                        if (this._windowSignals.has(w) && isListed(w)) {
                            this._send('WindowChanged', new GLib.Variant(`(${WINDOW})`, [describe(w)]));
                        }
                    }
                    return GLib.SOURCE_REMOVE;
                });
            }
        }

        _closed(window) {
            const ids = this._windowSignals.get(window);
            if (!ids) return;
            ids.forEach(id => window.disconnect(id));
            this._windowSignals.delete(window);
            this._dirty.delete(window);
            if (this._focused === window) this._focused = null;
            this._send('WindowClosed', new GLib.Variant('(t)', [window.get_id()]));
        }

        _focusChanged() {
            const was = this._focused;
            this._focused = global.display.focus_window;
            if (was) this._changed(was);
            if (this._focused) this._changed(this._focused);
        }

        _window(id) {
            for (const window of this._windowSignals.keys()) {
                if (window.get_id() === id) return window;
            }
            return null;
        }

        // ---- what Tolvane calls ----

        RegisterAsync(parameters, invocation) {
            const sender = invocation.get_sender();
            if (this._tolvane !== sender) {
                if (this._watch) Gio.bus_unwatch_name(this._watch);
                this._giveBack();
                this._tolvane = sender;
                this._unanswered.clear();
                this._answering = true;
                this._watch = Gio.bus_watch_name(Gio.BusType.SESSION, sender,
                    Gio.BusNameWatcherFlags.NONE, null, () => this._tolvaneGone());
            }
            // The button is there while Tolvane is; its first opening asks for the entries.
            if (!this._menu) this._showMenu([]);
            invocation.return_value(new GLib.Variant('(s)', [String(shellVersion)]));
        }

        _tolvaneGone() {
            log('tolvane: Tolvane has gone: GNOME has its keys back');
            if (this._watch) Gio.bus_unwatch_name(this._watch);
            this._watch = 0;
            this._tolvane = null;
            this._unanswered.clear();
            this._endSession('gone');
            this._giveBack();
            this._hidePanel();
            this._removeMenu();
        }

        _fromTolvane(invocation) {
            if (invocation.get_sender() === this._tolvane) return true;
            invocation.return_dbus_error('com.brenmoor.Tolvane.Error.NotRegistered',
                'Register first');
            return false;
        }

        WindowsAsync(parameters, invocation) {
            if (!this._fromTolvane(invocation)) return;
            const listed = global.display.get_tab_list(Meta.TabList.NORMAL_ALL, null);
            const seen = new Set(listed);
            for (const w of this._windowSignals.keys()) {
                if (!seen.has(w) && isListed(w)) listed.push(w);
            }
            invocation.return_value(new GLib.Variant(`(a${WINDOW})`, [listed.map(describe)]));
        }

        MonitorsAsync(parameters, invocation) {
            const monitors = Main.layoutManager.monitors.map(m => [m.x, m.y, m.width, m.height,
                m.geometry_scale]);
            invocation.return_value(new GLib.Variant('(a(iiiid))', [monitors]));
        }

        ActivateAsync([id], invocation) {
            if (!this._fromTolvane(invocation)) return;
            const window = this._window(id);
            // A session abandoned while Tolvane was silent switches nothing late.
            const refused = !window || this._refusing;
            if (this._refusing) log('tolvane: an activation from a silent spell refused');
            if (!refused) {
                const time = global.get_current_time();
                if (window.minimized) window.unminimize();
                Main.activateWindow(window, time);
            }
            invocation.return_value(new GLib.Variant('(b)', [!refused]));
        }

        CloseAsync([id], invocation) {
            if (!this._fromTolvane(invocation)) return;
            const window = this._window(id);
            if (window) window.delete(global.get_current_time());
            invocation.return_value(new GLib.Variant('(b)', [window !== null]));
        }

        SetMinimizedAsync([id, minimized], invocation) {
            if (!this._fromTolvane(invocation)) return;
            const window = this._window(id);
            if (window && minimized) window.minimize();
            else if (window) window.unminimize();
            invocation.return_value(new GLib.Variant('(b)', [window !== null]));
        }

        // ---- the trigger keys ----

        BindAsync([bindings], invocation) {
            if (!this._fromTolvane(invocation)) return;
            this._giveBack();
            const refused = [];
            for (const [accelerator, word] of bindings.slice(0, MAX_BINDINGS)) {
                if (!this._bind(bounded(accelerator, MAX_TEXT), bounded(word, 32))) {
                    refused.push(accelerator);
                }
            }
            invocation.return_value(new GLib.Variant('(as)', [refused]));
        }

        // The GNOME binding that holds `accelerator` is taken over (its other combinations keep
        // GNOME's handler); a combination GNOME does not bind is grabbed.
        _bind(accelerator, word) {
            const wanted = normalAccelerator(accelerator);
            for (const schema of ['org.gnome.desktop.wm.keybindings', 'org.gnome.shell.keybindings']) {
                const settings = new Gio.Settings({schema_id: schema});
                for (const name of settings.settings_schema.list_keys()) {
                    const value = settings.get_value(name);
                    if (value.get_type_string() !== 'as') continue;
                    if (!value.deepUnpack().some(a => normalAccelerator(a) === wanted)) continue;
                    return this._takeOver(name, modifiersOfAccelerator(accelerator), word);
                }
            }
            const action = global.display.grab_accelerator(accelerator, Meta.KeyBindingFlags.NONE);
            if (action === Meta.KeyBindingAction.NONE) return false;
            Main.wm.allowKeybinding(Meta.external_binding_name_for_action(action),
                Shell.ActionMode.NORMAL);
            this._grabbed.push({action, word, modifiers: modifiersOfAccelerator(accelerator)});
            return true;
        }

        _takeOver(name, modifiers, word) {
            let taken = this._taken.find(t => t.name === name);
            if (!taken) {
                taken = {name, words: new Map()};
                const handler = (...args) => this._bindingPressed(taken, args);
                if (!Meta.keybindings_set_custom_handler(name, handler)) return false;
                Main.wm.allowKeybinding(name, Shell.ActionMode.NORMAL);
                this._taken.push(taken);
            }
            taken.words.set(modifiers, word);
            return true;
        }

        _giveBack() {
            for (const {name} of this._taken) {
                if (isShellSwitcher(name)) {
                    Main.wm.setCustomKeybindingHandler(name, Shell.ActionMode.NORMAL,
                        Main.wm._startSwitcher.bind(Main.wm));
                } else {
                    Meta.keybindings_set_custom_handler(name, null);
                }
            }
            this._taken = [];
            for (const {action} of this._grabbed) {
                global.display.ungrab_accelerator(action);
                Main.wm.allowKeybinding(Meta.external_binding_name_for_action(action),
                    Shell.ActionMode.NONE);
            }
            this._grabbed = [];
        }

        _bindingPressed(taken, args) {
            // The handler's arguments are (display, window, binding) up to GNOME 44 and
            // (display, window, event, binding) from 45 on.
            const binding = args.find(a => a instanceof Meta.KeyBinding);
            const modifiers = binding ? modifiersOf(binding.get_mask()) : 0;
            const word = taken.words.get(modifiers);
            if (word && this._available() && !this._session) {
                this._startSession(word, modifiers);
                return;
            }
            if (word) {
                log(`tolvane: ${taken.name} goes to GNOME (Tolvane ${this._tolvane ? 'silent' : 'gone'}${this._session ? ', a session runs' : ''})`);
                this._probe();
            }
            if (isShellSwitcher(taken.name)) Main.wm._startSwitcher(...args);
        }

        _acceleratorActivated(action) {
            const grabbed = this._grabbed.find(g => g.action === action);
            if (!grabbed) return;
            if (this._available() && !this._session) this._startSession(grabbed.word, grabbed.modifiers);
            else this._probe();
        }

        // While Tolvane is silent a press costs it nothing but a ping: its answer brings the
        // keys back to it.
        _probe() {
            this._send('Ping', null);
        }

        // ---- the session's grab ----

        // The grab's actor holds the panel, so that its clicks reach it while the grab lasts.
        _layerActor() {
            if (!this._layer) {
                this._layer = new St.Widget({reactive: true, can_focus: true});
                Main.uiGroup.add_child(this._layer);
                this._layer.connect('key-press-event', (a, event) => this._key(event, true));
                this._layer.connect('key-release-event', (a, event) => this._key(event, false));
                this._panel = new St.Widget({reactive: true, visible: false});
                this._panel.connect('button-press-event', (actor, event) => this._click(event));
                this._layer.add_child(this._panel);
            }
            Main.uiGroup.set_child_above_sibling(this._layer, null);
            return this._layer;
        }

        _pushGrab() {
            const actor = this._layerActor();
            const grab = Main.pushModal(actor, {actionMode: Shell.ActionMode.SYSTEM_MODAL});
            if ((grab.get_seat_state() & Clutter.GrabState.KEYBOARD) === 0) {
                Main.popModal(grab);
                return null;
            }
            actor.grab_key_focus();
            return grab;
        }

        // `modifier`: the trigger's modifiers, whose release ends the session (none for the
        // palette's, which Tolvane or Escape ends).
        _startSession(word, modifiers) {
            const grab = this._pushGrab();
            if (!grab) {
                log('tolvane: no keyboard grab for a session');
                return;
            }
            const serial = ++this._serial;
            const primary = modifiers & (MOD_SUPER | MOD_ALT | MOD_CTRL);
            this._session = {serial, grab, primary: word === 'palette' ? 0 : primary};
            this._refusing = false;
            // A quick tap's release that came before the grab shows here: Tolvane hears the
            // modifiers as they are now and commits at once.
            this._send('Triggered', new GLib.Variant('(suux)', [word, serial, heldModifiers(),
                GLib.get_monotonic_time()]));
            this._startHeartbeat();
            if (this._session?.primary && (heldModifiers() & this._session.primary) === 0) {
                this._endSession('released');
            }
        }

        GrabAsync(parameters, invocation) {
            if (!this._fromTolvane(invocation)) return;
            if (!this._session) {
                const grab = this._pushGrab();
                if (grab) {
                    this._session = {serial: ++this._serial, grab, primary: 0};
                    this._refusing = false;
                    this._startHeartbeat();
                }
            }
            invocation.return_value(new GLib.Variant('(uu)',
                [this._session?.serial ?? 0, heldModifiers()]));
        }

        // From any caller: Tolvane's stall watchdog sends it on a connection of its own, and
        // ending a grab only gives the user the keyboard back.
        ReleaseAsync([why], invocation) {
            this._endSession(bounded(why, 32));
            invocation.return_value(null);
        }

        _key(event, pressed) {
            const session = this._session;
            if (!session) return Clutter.EVENT_PROPAGATE;
            let keysym = event.get_key_symbol();
            const unicode = event.get_key_unicode();
            const text = pressed && unicode && unicode.charCodeAt(0) >= 0x20 ? unicode : '';
            // The key's own name, as if no modifier were held: Tolvane reads Shift apart.
            let base = keysym === KEY_ISO_LEFT_TAB ? KEY_TAB : keysym;
            if (base >= 0x41 && base <= 0x5a) base += 0x20;
            const held = heldModifiers();
            this._send('Key', new GLib.Variant('(uubsuuux)', [session.serial, keysym, pressed,
                text, base, event.get_key_code(), held, GLib.get_monotonic_time()]));
            if (pressed && keysym === KEY_ESCAPE) this._endSession('escape');
            else if (!pressed && session.primary && (held & session.primary) === 0) this._endSession('released');
            return Clutter.EVENT_STOP;
        }

        _startHeartbeat() {
            if (this._heartbeat) return;
            this._heartbeat = GLib.timeout_add(GLib.PRIORITY_DEFAULT, HEARTBEAT_MS, () => {
                if (this._silent()) this._silence();
                // Beating on after a session until all its calls are answered: a Tolvane that
                // stopped just after a quick tap is noticed too.
                if (!this._session && !this._refusing && this._unanswered.size === 0) {
                    this._heartbeat = 0;
                    return GLib.SOURCE_REMOVE;
                }
                this._ping();
                return GLib.SOURCE_CONTINUE;
            });
        }

        _ping() {
            if (!this._tolvane) return;
            const number = ++this._calls;
            this._unanswered.set(number, GLib.get_monotonic_time());
            Gio.DBus.session.call(this._tolvane, TOLVANE_PATH, TOLVANE_IFACE, 'Ping', null, null,
                Gio.DBusCallFlags.NO_AUTO_START, CALL_TIMEOUT_MS, null, (connection, result) => {
                    this._unanswered.delete(number);
                    try {
                        connection.call_finish(result);
                    } catch (e) {
                        if (e.matches(Gio.IOErrorEnum, Gio.IOErrorEnum.TIMED_OUT)) this._silence();
                        return;
                    }
                    this._answered();
                    if (number > this._silentAfter && !this._silent()) this._refusing = false;
                });
        }

        _endSession(why) {
            const session = this._session;
            if (!session) return;
            this._session = null;
            try {
                Main.popModal(session.grab);
            } catch (e) {
                logError(e, 'tolvane: ending the grab');
            }
            if (why !== 'tolvane') this._send('GrabEnded', new GLib.Variant('(us)', [session.serial, why]));
        }

        // ---- the panel ----

        ShowPanelAsync([monitor, [x, y, width, height], scale, pixels, input], invocation) {
            if (!this._fromTolvane(invocation)) return;
            // A panel Tolvane painted before it read the keys of a silent spell comes too late.
            if (this._refusing) {
                invocation.return_value(null);
                return;
            }
            const m = Main.layoutManager.monitors[monitor];
            const w = width * scale, h = height * scale;
            const fits = m && scale >= 1 && scale <= 4 && width > 0 && height > 0 &&
                w <= MAX_PANEL_SIDE && h <= MAX_PANEL_SIDE && pixels.length === w * h * 4;
            if (!fits) {
                invocation.return_dbus_error('com.brenmoor.Tolvane.Error.Invalid',
                    'the panel does not fit its monitor or its pixels');
                return;
            }
            const content = St.ImageContent.new_with_preferred_size(width, height);
            setPixels(content, pixels, w, h);
            const panel = this._layerActor() && this._panel;
            this._monitor = m;
            // The clickable part, within the panel.
            this._input = [input[0] - x, input[1] - y, input[2], input[3]];
            panel.set_content(content);
            panel.set_position(m.x + x, m.y + y);
            panel.set_size(width, height);
            if (!panel.visible) {
                // Tolvane hears when the panel has reached the screen, not just the Shell.
                const id = global.stage.connect('after-paint', () => {
                    global.stage.disconnect(id);
                    this._send('PanelShown', null);
                });
            }
            panel.show();
            invocation.return_value(null);
        }

        _click(event) {
            const [px, py] = event.get_coords();
            const [ax, ay] = this._panel.get_transformed_position();
            const [ix, iy, iw, ih] = this._input;
            const x = px - ax, y = py - ay;
            if (x >= ix && y >= iy && x < ix + iw && y < iy + ih) {
                this._send('Clicked', new GLib.Variant('(dd)',
                    [px - this._monitor.x, py - this._monitor.y]));
            }
            return Clutter.EVENT_STOP;
        }

        HidePanelAsync(parameters, invocation) {
            if (!this._fromTolvane(invocation)) return;
            this._hidePanel();
            invocation.return_value(null);
        }

        _hidePanel() {
            this._panel?.hide();
        }

        _destroyLayer() {
            this._layer?.destroy();
            this._layer = null;
            this._panel = null;
        }

        // ---- the top-bar menu ----

        SetMenuAsync([entries], invocation) {
            if (!this._fromTolvane(invocation)) return;
            let parsed;
            try {
                parsed = JSON.parse(bounded(entries, 1 << 20));
            } catch (e) {
                invocation.return_dbus_error('com.brenmoor.Tolvane.Error.Invalid', 'not JSON');
                return;
            }
            this._showMenu(Array.isArray(parsed) ? parsed : []);
            invocation.return_value(null);
        }

        _showMenu(entries) {
            if (!this._menu) {
                this._menu = new PanelMenu.Button(0.0, 'Tolvane', false);
                this._menu.add_child(new St.Icon({icon_name: 'view-app-grid-symbolic',
                    style_class: 'system-status-icon'}));
                this._menu.menu.connect('open-state-changed',
                    (menu, open) => this._send(open ? 'MenuOpening' : 'MenuClosed', null));
                Main.panel.addToStatusArea('tolvane', this._menu);
            }
            this._menu.menu.removeAll();
            let count = 0;
            const add = (menu, list, path, depth) => {
                for (const [index, entry] of list.entries()) {
                    if (++count > MAX_MENU_ENTRIES || typeof entry !== 'object' || !entry) return;
                    const id = `${path}${index}`;
                    const title = bounded(entry.title, MAX_TEXT);
                    if (entry.kind === 'separator') {
                        menu.addMenuItem(new PopupMenu.PopupSeparatorMenuItem());
                    } else if (Array.isArray(entry.submenu) && entry.submenu.length && depth < MAX_MENU_DEPTH) {
                        const sub = new PopupMenu.PopupSubMenuMenuItem(title);
                        menu.addMenuItem(sub);
                        add(sub.menu, entry.submenu, `${id}.`, depth + 1);
                    } else {
                        const item = new PopupMenu.PopupMenuItem(title,
                            {reactive: entry.kind !== 'header' && entry.enabled !== false});
                        if (entry.checked) item.setOrnament(PopupMenu.Ornament.CHECK);
                        item.connect('activate', () => this._send('MenuActivated',
                            new GLib.Variant('(s)', [id])));
                        menu.addMenuItem(item);
                    }
                }
            };
            add(this._menu.menu, entries, '', 0);
            // An empty menu does not open, and its opening is what asks Tolvane for the entries.
            if (!entries.length)
                this._menu.menu.addMenuItem(new PopupMenu.PopupMenuItem('Tolvane', {reactive: false}));
        }

        _removeMenu() {
            this._menu?.destroy();
            this._menu = null;
        }
    }

    function isShellSwitcher(name) {
        return /^(switch|cycle)-(applications|group|windows|panels)(-backward)?$/.test(name);
    }

    // St.ImageContent takes Cogl's context first from GNOME 46 on.
    function setPixels(content, pixels, width, height) {
        const bytes = new GLib.Bytes(pixels);
        const format = Cogl.PixelFormat.BGRA_8888_PRE;
        try {
            content.set_bytes(bytes, format, width, height, width * 4);
        } catch (e) {
            const context = global.stage.context.get_backend().get_cogl_context();
            content.set_bytes(context, bytes, format, width, height, width * 4);
        }
    }

    return new Extension();
}
