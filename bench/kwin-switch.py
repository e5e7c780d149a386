#!/usr/bin/env python3
"""Tolvane on a private headless KWin (kwin_wayland --virtual) at three sizes of desktop: three
test client windows alone, and with one test client holding 500 or 1,000 more toplevels. For
each size, on its own KWin and its own Tolvane (`--verbose`):

- quick tap: Meta-Tab typed through KWin's fake input until the test client reports the new
  activation, beside KWin activating the same window itself: a KWin script (loaded over D-Bus)
  setting workspace.activeClient on a shortcut of its own (Meta+End) typed the same way, a
  script doing so loaded over D-Bus (busctl) for each switch, and KWin's own Alt-Tab switcher
  (its tabbox), the anchor. Each key tool starts a process and a Wayland connection; it types a
  marker character into the focused window just before the keys (three round trips to KWin
  before the Tab), so that each is also timed from the key reaching KWin: what the medians'
  differences compare (the marker and the activation are told by two processes, so a sample
  may be off by a scheduling slice, even below zero);
- held HUD: from the Tab held with Meta to Tolvane's log line "wayland: overlay shown hud",
  less the designed 0.1 s delay (and, beside it, from starting the key tool);
- idle CPU of the tolvane process over a quiet span (10 s) after the switches have settled;
- resident memory (VmRSS) after the warm-up, the switches and the HUDs.

Run as root inside `dbus-run-session`: `bench/kwin-switch.py [ROUNDS]`. KWin runs as nobody on
a session bus of its own that both may use, with its permission checks lifted: the program it
would have to trust is the desktop program that the front door starts, not a fixed path. The
programs come from the environment or the builds: TOLVANE (build/release/src/tolvane),
TOLVANE_WAYLAND_TEST_CLIENT and TOLVANE_KWIN_FAKE_KEYS (under build/dev/tests/desktops: the
release preset builds no tests). BENCH_SIZES ("3,503,1003") and BENCH_IDLE_SECONDS (10) change
the sizes and the quiet span.
"""
import os
import pwd
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from bench_common import (HUD_LINE, SUPER_DOWN, SUPER_UP, WARMED_LINE, Lines, idle_cpu_percent,
                          less_delay, poll, rss_mib, summary, tolvane_environment, uptime)

ROUNDS = int(sys.argv[1]) if len(sys.argv) > 1 else 20
HUD_ROUNDS = max(5, ROUNDS // 2)
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TOLVANE = os.environ.get("TOLVANE", f"{ROOT}/build/release/src/tolvane")
TESTS = f"{ROOT}/build/dev/tests/desktops"
CLIENT = os.environ.get("TOLVANE_WAYLAND_TEST_CLIENT",
                        f"{TESTS}/clients/tolvane-wayland-test-client")
FAKE_KEYS = os.environ.get("TOLVANE_KWIN_FAKE_KEYS", f"{TESTS}/kwin/tolvane-kwin-fake-keys")
SIZES = [int(n) for n in os.environ.get("BENCH_SIZES", "3,503,1003").split(",")]
IDLE_SECONDS = float(os.environ.get("BENCH_IDLE_SECONDS", "10"))
WINDOWS = ["one", "two", "three"]
# Typed into the focused window before the keys: its arrival in the recording is the moment
# KWin handled the keys' start.
MARKER = "x"
ALT_TAB = ["-M", "alt", "-P", "Alt_L", "-k", "Tab", "-p", "Alt_L", "-m", "alt"]
SHORTCUT, SHORTCUT_KEY = "Meta+End", "End"
BUS_CONFIG = ("<busconfig><type>session</type><listen>unix:path={}</listen><auth>EXTERNAL</auth>"
              '<policy context="default"><allow user="*"/><allow send_destination="*"/>'
              '<allow receive_sender="*"/><allow own="*"/></policy></busconfig>\n')
# KWin 5 has clients and activeClient, KWin 6 windows and activeWindow.
ACTIVATE = ("function activate(w) { if ('activeWindow' in workspace) workspace.activeWindow = w;"
            " else workspace.activeClient = w; }\n")
# Every window `w` of that caption (KWin 5 has clientList, KWin 6 windowList).
EACH = ("const all = workspace.windowList ? workspace.windowList() : workspace.clientList();\n"
        "for (const w of all) if (w.caption == '%s') ")


def activate_by_caption(caption):
    return ACTIVATE + EACH % caption + "activate(w);\n"


def previous_on_shortcut(previous):
    """A shortcut activating the window before the active one, as the script sees the
    activations from `previous` on: what a quick tap picks."""
    return ACTIVATE + """
let current = workspace.activeWindow || workspace.activeClient, previous = null;
%sprevious = w;
(workspace.windowActivated || workspace.clientActivated).connect(function (w) {
  if (w && w.normalWindow && w !== current) { previous = current; current = w; }
});
registerShortcut("Bench previous", "Bench previous", "%s", function () {
  if (previous) activate(previous);
});
""" % (EACH % previous, SHORTCUT)


class Kwin:
    """A headless KWin run as nobody on its own bus, and what its clients say: the test
    clients' activations on one pipe, the characters typed into the three windows on a FIFO."""

    def __init__(self):
        self.home = tempfile.mkdtemp(prefix="tolvane-bench-")
        os.chmod(self.home, 0o711)
        self.dir, self.runtime = f"{self.home}/kwin", f"{self.home}/run"
        os.mkdir(self.dir, 0o700)
        os.mkdir(self.runtime, 0o700)
        with open(f"{self.home}/bus.conf", "w") as conf:
            conf.write(BUS_CONFIG.format(f"{self.home}/bus"))
        self.children = []
        bus = self.start(["dbus-daemon", f"--config-file={self.home}/bus.conf", "--nofork",
                          "--print-address=1"], env=os.environ, stdout=subprocess.PIPE)
        self.address = bus.stdout.readline().decode().strip()
        # The installed kwin_wayland carries a file capability that this machine will not grant
        # at exec; a copy carries none, and KWin loads its own Qt platform only under a name
        # ending so.
        copy = f"{self.dir}/tolvane-bench-kwin_wayland"
        shutil.copy("/usr/bin/kwin_wayland", copy)
        nobody = pwd.getpwnam("nobody")
        os.chown(self.dir, nobody.pw_uid, nobody.pw_gid)
        # KWin reads which executable a client (run as root) runs, and the scripts it is handed.
        with open(f"{self.home}/kwin.log", "w") as log:
            self.kwin = subprocess.Popen(
                ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                 "--inh-caps=+sys_ptrace,+dac_read_search",
                 "--ambient-caps=+sys_ptrace,+dac_read_search", "env", "-i", "PATH=/usr/bin:/bin",
                 f"HOME={self.dir}", f"XDG_RUNTIME_DIR={self.dir}",
                 f"DBUS_SESSION_BUS_ADDRESS={self.address}", "KWIN_WAYLAND_NO_PERMISSION_CHECKS=1",
                 copy, "--virtual", "--no-lockscreen", "--width", "1280", "--height", "800",
                 "--socket", "wayland-0"],
                stdout=subprocess.DEVNULL, stderr=log,
                start_new_session=True)
        self.env = dict(os.environ, WAYLAND_DISPLAY=f"{self.dir}/wayland-0",
                        DBUS_SESSION_BUS_ADDRESS=self.address, XDG_RUNTIME_DIR=self.runtime,
                        XDG_CURRENT_DESKTOP="KDE", DISPLAY="")
        try:
            poll(lambda: os.path.exists(f"{self.dir}/wayland-0") and
                 self.call("/Scripting", "org.kde.kwin.Scripting", "isScriptLoaded", "s", "none",
                           check=False) is not None, "KWin's socket and scripting")
        except SystemExit:
            self.end()
            raise
        read, self.said = os.pipe()
        self.activations = Lines(os.fdopen(read, "rb"))
        os.mkfifo(f"{self.home}/typed")
        self.typed = Lines(os.fdopen(os.open(f"{self.home}/typed", os.O_RDWR), "rb"), chunks=True)
        self.scripts = 0

    def start(self, argv, env=None, **kwargs):
        kwargs.setdefault("stdout", subprocess.DEVNULL)
        kwargs.setdefault("stderr", subprocess.DEVNULL)
        child = subprocess.Popen(argv, env=env or self.env, start_new_session=True, **kwargs)
        self.children.append(child)
        return child

    def call(self, path, interface, member, *args, check=True):
        done = subprocess.run(["busctl", f"--address={self.address}", "call", "org.kde.KWin",
                               path, interface, member, *args], capture_output=True, text=True)
        if check and done.returncode != 0:
            raise SystemExit(f"KWin's {member}: {done.stderr}")
        return done.stdout if done.returncode == 0 else None

    def script(self, js, keep=False):
        """Loads `js` and runs it; unloads it after unless `keep`."""
        self.scripts += 1
        name, path = f"bench-{self.scripts}", f"{self.home}/bench-{self.scripts}.js"
        with open(path, "w") as file:
            file.write(js)
        os.chmod(path, 0o644)
        loaded = self.call("/Scripting", "org.kde.kwin.Scripting", "loadScript", "ss", path, name)
        number = loaded.split()[-1]
        # KWin 5 puts the script at /<id>, KWin 6 at /Scripting/Script<id>.
        if self.call(f"/{number}", "org.kde.kwin.Script", "run", check=False) is None:
            self.call(f"/Scripting/Script{number}", "org.kde.kwin.Script", "run")
        if not keep:
            self.call("/Scripting", "org.kde.kwin.Scripting", "unloadScript", "s", name)

    def open_window(self, title, count=1, record=True):
        argv = [CLIENT, "--app-id", title, "--title", title, "--count", str(count)]
        self.start(argv + (["--record", f"{self.home}/typed"] if record else []),
                   stdout=self.said)
        last = f"{title}:{title}" + (f" {count}" if count > 1 else "")
        if not self.activations.wait(lambda line: line.strip() == f"activated {last}"):
            raise SystemExit(f"{last} was never activated")

    def focused(self):
        """The activated window as "app:title", from the clients' own lines."""
        now = None
        with self.activations.changed:
            for _, line in self.activations.lines:
                change, _, window = line.strip().partition(" ")
                if change == "activated":
                    now = window
                elif window == now:
                    now = None
        return now

    def keys(self, words):
        return self.start([FAKE_KEYS, MARKER, *words])

    def end(self):
        for child in reversed(self.children[1:]):
            child.terminate()
            child.wait()
        os.killpg(self.kwin.pid, 15)
        self.kwin.wait()
        self.children[0].terminate()
        self.children[0].wait()
        shutil.rmtree(self.home, ignore_errors=True)


class NotStarted(Exception):
    """Tolvane ended or stalled before it had its windows and its shortcuts: a finding of the
    benchmark at that size, not the end of the run."""


class Desktop:
    """One size: KWin, its windows, the script's shortcut and a running Tolvane, warmed up."""

    def __init__(self, windows):
        self.windows = windows
        self.kwin = Kwin()
        try:
            self._start()
        except BaseException:
            self.kwin.end()
            raise

    def _start(self):
        for title in WINDOWS:
            self.kwin.open_window(title)
        if self.windows > len(WINDOWS):
            self.kwin.open_window("bulk", self.windows - len(WINDOWS), record=False)
        # The history Tolvane starts from: the three windows, "three" last.
        for title in WINDOWS:
            since = len(self.kwin.activations)
            self.kwin.script(activate_by_caption(title))
            self.kwin.activations.wait(lambda line: line.strip() == f"activated {title}:{title}",
                                       since=since)
        env = tolvane_environment(f"{self.kwin.home}/tolvane", self.kwin.env)
        self.tolvane = self.kwin.start([TOLVANE, "--verbose"], env=env, stderr=subprocess.PIPE)
        self.log = Lines(self.tolvane.stderr)
        for line in (WARMED_LINE, "kwin: shortcuts installed"):
            if not self.log.wait(lambda text: line in text):
                said = "".join(text for _, text in self.log.lines)[-1000:]
                with open(f"{self.kwin.home}/kwin.log") as kwin:
                    last = "".join(kwin.readlines()[-2:])
                raise NotStarted(f"Tolvane never logged {line!r}; it said:\n{said}"
                                 f"and KWin last said:\n{last}")
        self.warmed = next(line for _, line in self.log.lines if WARMED_LINE in line)
        # Untimed: the first switches and the first HUD pay for what is loaded on first use.
        self.timed(self.tap)
        self.timed(self.tap)
        self.held()

    def tap(self):
        self.kwin.keys([*SUPER_DOWN, "-k", "Tab", *SUPER_UP])

    def timed(self, act):
        """Seconds from `act` to the activation of another window than the active one (the
        overlay's end may give the covered window back, which is no switch), and from the
        marker the act typed, if it typed one."""
        before, since = self.kwin.focused(), len(self.kwin.activations)
        marks, start = len(self.kwin.typed), time.perf_counter()
        act()
        found = self.kwin.activations.wait(
            lambda line: line.startswith("activated ") and line.strip()[10:] != before, bound=20,
            since=since)
        mark = self.kwin.typed.wait(lambda text: MARKER in text, bound=1, since=marks)
        time.sleep(0.3)  # lets the switch settle: this is a benchmark, not a test
        if not found:
            return None, None
        return found[0] - start, mark and found[0] - mark[0]

    def held(self):
        """Seconds from the Tab held with Meta (its marker), and from starting the key tool,
        to the HUD's log line."""
        since, marks, start = len(self.log), len(self.kwin.typed), time.perf_counter()
        typist = self.kwin.keys([*SUPER_DOWN, "-k", "Tab", "-s", "600", *SUPER_UP])
        found = self.log.wait(lambda line: HUD_LINE in line, bound=20, since=since)
        mark = self.kwin.typed.wait(lambda text: MARKER in text, bound=5, since=marks)
        typist.wait()
        time.sleep(0.5)  # the switch at the release
        if not found:
            return None, None
        return mark and found[0] - mark[0], found[0] - start

    def previous(self):
        """The caption of the window activated before the active one, of the three."""
        with self.kwin.activations.changed:
            order = [line.strip()[10:] for _, line in self.kwin.activations.lines
                     if line.startswith("activated ")]
        return next(w for w in reversed(order) if w != order[-1] and w.split(":")[0] in WINDOWS
                    ).split(":")[1]

    def press_shortcut(self):
        self.kwin.keys([*SUPER_DOWN, "-k", SHORTCUT_KEY, *SUPER_UP])

    def load_activation(self):
        self.kwin.script(activate_by_caption(self.previous()))

    def alt_tab(self):
        self.kwin.keys(ALT_TAB)

    def measure(self):
        results = {"windows": self.windows, "warmed": self.warmed.split("warmed ")[-1].strip()}
        for name, act in [("tap", self.tap), ("shortcut", self.press_shortcut),
                          ("loaded", self.load_activation), ("alt_tab", self.alt_tab)]:
            if act == self.press_shortcut:
                # Loaded after Tolvane's sessions: after one, the shortcuts of the scripts
                # loaded before it no longer fire (KWin 5.27).
                self.kwin.script(previous_on_shortcut(self.previous()), keep=True)
            samples = [self.timed(act) for _ in range(ROUNDS)]
            results[name] = [total for total, _ in samples]
            results[name + "_from_key"] = [from_key for _, from_key in samples]
        samples = [self.held() for _ in range(HUD_ROUNDS)]
        results["hud"] = less_delay([k for k, _ in samples])
        results["hud_keys"] = less_delay([w for _, w in samples])
        results["rss"] = rss_mib(self.tolvane.pid)
        results["cpu"] = idle_cpu_percent(self.tolvane.pid, IDLE_SECONDS)
        return results

    def end(self):
        self.kwin.end()


def difference(samples, base):
    mine, theirs = [s for s in samples if s], [s for s in base if s]
    if not mine or not theirs:
        return "no samples"
    return f"{(statistics.median(mine) - statistics.median(theirs)) * 1000:+7.2f} ms (medians)"


def report(r):
    print(f"\n{r['windows']} windows on KWin (Tolvane: {r['warmed']}), {ROUNDS} rounds:")
    rows = [("Tolvane quick tap (Meta-Tab)", summary(r["tap"])),
            ("the same from the key", summary(r["tap_from_key"])),
            (f"KWin script on its {SHORTCUT}", summary(r["shortcut"])),
            ("the same from the key", summary(r["shortcut_from_key"])),
            ("KWin script loaded per switch", summary(r["loaded"])),
            ("KWin's Alt-Tab (tabbox)", summary(r["alt_tab"])),
            ("the same from the key", summary(r["alt_tab_from_key"])),
            ("tap less the script's shortcut", difference(r["tap"], r["shortcut"])),
            ("the same from the key", difference(r["tap_from_key"], r["shortcut_from_key"])),
            ("tap less Alt-Tab", difference(r["tap"], r["alt_tab"])),
            ("the same from the key", difference(r["tap_from_key"], r["alt_tab_from_key"])),
            ("held HUD past 0.1 s (from the Tab)", f"{summary(r['hud'])} ({HUD_ROUNDS} rounds)"),
            ("the same from starting the keys", summary(r["hud_keys"])),
            ("idle CPU", f"{r['cpu']:.2f} % over {IDLE_SECONDS:.0f} s"),
            ("resident memory", f"{r['rss']:.1f} MiB")]
    for label, text in rows:
        print(f"{label:>36}: {text}")
    sys.stdout.flush()


def main():
    print(uptime())
    for windows in SIZES:
        try:
            desktop = Desktop(windows)
        except NotStarted as failure:
            print(f"\n{windows} windows on KWin: {failure}")
            continue
        try:
            results = desktop.measure()
        finally:
            desktop.end()
        report(results)
    print(uptime())


main()
