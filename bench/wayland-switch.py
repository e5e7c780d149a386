#!/usr/bin/env python3
"""Tolvane on a private headless sway at three sizes of desktop: three foot terminals alone,
and with one test client holding 500 or 1,000 more toplevels (on workspace 2, where sway's
`assign` puts them). For each size, on its own sway and its own Tolvane (`--verbose`):

- quick tap: a Super-Tab typed by wtype until sway reports the new focus, beside the front
  door's `tolvane trigger next` (what an `exec` binding runs), `swaymsg '[con_id=N] focus'`
  moving the focus between the same windows, and wtype typing a key that sway itself binds to
  that focus command (what wtype and sway take with no Tolvane: the floor of the quick tap).
  All four start one process per switch, so the differences are what Tolvane adds. The quick
  tap is also timed from sway's binding event (the key reaching sway and its `nop` binding) to
  the focus: Tolvane's own part;
- held HUD: from sway's binding event for the Tab held with Super to Tolvane's log line
  "wayland: overlay shown hud" reaching the pipe, less the designed 0.1 s delay (and, beside it,
  from starting the wtype, which adds wtype's own start-up);
- idle CPU of the tolvane process over a quiet span (10 s) after the switches have settled;
- resident memory (VmRSS) after the warm-up, the switches and the HUDs.

Then, for comparison, Tolvane's resident memory on X11 (Xvfb + openbox, three xterms and the X11
test client's windows) at the same sizes, beside a bare Qt Widgets window's, from
`tolvane_desktop_bench --benchmark_filter=Memory`.

Run as root inside `dbus-run-session` (sway itself runs as nobody, as the desktop tests start
it): `bench/wayland-switch.py [ROUNDS]`. The programs come from the environment or the builds:
TOLVANE (build/release/src/tolvane), TOLVANE_WAYLAND_TEST_CLIENT
(build/dev/tests/desktops/clients/tolvane-wayland-test-client: the release preset builds no
tests, and the client's speed is not what is measured), TOLVANE_DESKTOP_BENCH
(build/release/bench/tolvane_desktop_bench; empty to skip the X11 figures). BENCH_SIZES
("3,503,1003") and BENCH_IDLE_SECONDS (10) change the sizes and the quiet span.
"""
import json
import os
import pwd
import shutil
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
CLIENT = os.environ.get("TOLVANE_WAYLAND_TEST_CLIENT",
                        f"{ROOT}/build/dev/tests/desktops/clients/tolvane-wayland-test-client")
X11_BENCH = os.environ.get("TOLVANE_DESKTOP_BENCH",
                           f"{ROOT}/build/release/bench/tolvane_desktop_bench")
SIZES = [int(n) for n in os.environ.get("BENCH_SIZES", "3,503,1003").split(",")]
IDLE_SECONDS = float(os.environ.get("BENCH_IDLE_SECONDS", "10"))
TERMINALS = ["one", "two", "three"]


class Sway:
    """A headless sway run as nobody, with its event stream and the keyboard that keeps the
    seat's (without it each wtype races its clients' binding of a new keyboard)."""

    def __init__(self):
        self.home = tempfile.mkdtemp(prefix="tolvane-bench-")
        self.dir, self.runtime = f"{self.home}/sway", f"{self.home}/run"
        nobody = pwd.getpwnam("nobody")
        os.chmod(self.home, 0o711)
        os.mkdir(self.dir, 0o700)
        os.mkdir(self.runtime, 0o700)
        os.chown(self.dir, nobody.pw_uid, nobody.pw_gid)
        with open(f"{self.dir}/conf", "w") as conf:
            conf.write("output HEADLESS-1 resolution 1280x800\n"
                       'assign [app_id="^bulk$"] workspace 2\n')
        self.sway = subprocess.Popen(
            ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "env", "-i",
             "PATH=/usr/bin:/bin", f"HOME={self.dir}", f"XDG_RUNTIME_DIR={self.dir}",
             "WLR_BACKENDS=headless", "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1",
             "sway", "-c", f"{self.dir}/conf"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        self.children = []
        poll(self._sockets, "sway's sockets")
        self.events = Lines(self.start(["swaymsg", "-m", "-t", "subscribe",
                                        '["window","binding"]'], stdout=subprocess.PIPE).stdout)
        self.start(["wtype", "-s", "86400000"])

    def _sockets(self):
        names = os.listdir(self.dir)
        socks = [n for n in names if n.startswith("sway-ipc.") and n.endswith(".sock")]
        if "wayland-1" not in names or not socks:
            return False
        self.env = dict(os.environ, WAYLAND_DISPLAY=f"{self.dir}/wayland-1",
                        SWAYSOCK=f"{self.dir}/{socks[0]}", XDG_RUNTIME_DIR=self.runtime,
                        DISPLAY="")
        return True

    def start(self, argv, env=None, **kwargs):
        kwargs.setdefault("stdout", subprocess.DEVNULL)
        kwargs.setdefault("stderr", subprocess.DEVNULL)
        child = subprocess.Popen(argv, env=env or self.env, start_new_session=True, **kwargs)
        self.children.append(child)
        return child

    def msg(self, *args):
        done = subprocess.run(["swaymsg", *args], env=self.env, capture_output=True, text=True)
        if done.returncode != 0:
            raise SystemExit(f"swaymsg {' '.join(args)}: {done.stdout}{done.stderr}")
        return done.stdout

    def tree(self):
        return json.loads(self.msg("-t", "get_tree"))

    def end(self):
        for child in reversed(self.children):
            child.terminate()
            child.wait()
        os.killpg(self.sway.pid, 15)
        self.sway.wait()
        shutil.rmtree(self.home, ignore_errors=True)


def views(tree):
    if tree.get("app_id") or tree.get("window_properties"):
        yield tree
    for child in tree.get("nodes", []) + tree.get("floating_nodes", []):
        yield from views(child)


def focused_con(tree):
    return next((v["id"] for v in views(tree) if v.get("focused")), None)


class Desktop:
    """One size: sway, its windows and a running Tolvane, warmed up."""

    def __init__(self, windows):
        self.windows = windows
        self.sway = Sway()
        for title in TERMINALS:
            self.sway.start(["foot", "-a", title, "-T", title, "cat"])
        bulk = windows - len(TERMINALS)
        if bulk > 0:
            self.sway.start([CLIENT, "--app-id", "bulk", "--title", "bulk", "--count", str(bulk)])
        poll(lambda: len(list(views(self.sway.tree()))) >= windows, f"{windows} windows")
        # The history Tolvane starts from: the terminals, "three" last; the bulk was never focused.
        for title in TERMINALS:
            self.sway.msg(f'[app_id="^{title}$"] focus')
        self.env = tolvane_environment(f"{self.sway.home}/tolvane", self.sway.env)
        self.tolvane = self.sway.start([TOLVANE, "--verbose"], env=self.env,
                                       stderr=subprocess.PIPE)
        self.log = Lines(self.tolvane.stderr)
        if not self.log.wait(lambda line: WARMED_LINE in line):
            raise SystemExit("Tolvane did not warm up")
        self.log.wait(lambda line: "wayland: bindings installed" in line)
        self.warmed = next(line for _, line in self.log.lines if WARMED_LINE in line)
        # Untimed: the first switches and the first HUD pay for what is loaded on first use.
        self.timed(self.tap())
        self.timed(self.tap())
        self.held()

    def tap(self):
        return ["wtype", *SUPER_DOWN, "-k", "Tab", *SUPER_UP]

    def timed(self, command):
        """Seconds from starting `command` to sway's focus event for another window than the
        focused one (the overlay's end refocuses the window it covered, which is no switch),
        and from sway's binding event, when the command typed a bound key, to that focus."""
        before = focused_con(self.sway.tree())
        since = len(self.sway.events)
        start = time.perf_counter()
        self.sway.start(command, env=self.env)

        def switched(line):
            event = json.loads(line)
            return event.get("change") == "focus" and event["container"]["id"] != before

        found = self.sway.events.wait(switched, bound=20, since=since)
        key = self.sway.events.wait(lambda line: '"binding"' in line, bound=0, since=since)
        time.sleep(0.3)  # lets the switch settle: this is a benchmark, not a test
        if not found:
            return None, None
        return found[0] - start, key and found[0] - key[0]

    def held(self):
        """Seconds from sway's binding event for the Tab held with Super, and from starting
        the wtype that types it, to the HUD's log line."""
        since, keys = len(self.log), len(self.sway.events)
        start = time.perf_counter()
        wtype = self.sway.start(["wtype", *SUPER_DOWN, "-k", "Tab", "-s", "600", *SUPER_UP])
        found = self.log.wait(lambda line: HUD_LINE in line, bound=20, since=since)
        key = self.sway.events.wait(lambda line: '"binding"' in line, bound=5, since=keys)
        wtype.wait()
        time.sleep(0.5)  # the switch at the release, and the refocus after the overlay
        if not found:
            return None, None
        return key and found[0] - key[0], found[0] - start

    def kept_keyboard(self, taps):
        """Quick taps from one wtype, the way a keyboard that stays plugged in types them: a new
        virtual keyboard sends every client a keymap to compile (Qt's connection in Tolvane
        too), which a real keyboard does only once. Seconds from each tap's binding event to
        the focus of another window than the one focused before it."""
        focused, since = focused_con(self.sway.tree()), len(self.sway.events)
        keys = []
        for _ in range(taps):
            keys += [*SUPER_DOWN, "-k", "Tab", *SUPER_UP, "-s", "500"]
        self.sway.start(["wtype", *keys]).wait()
        time.sleep(0.5)
        with self.sway.events.changed:
            events = [(when, json.loads(line)) for when, line in self.sway.events.lines[since:]]
        pending, samples = None, []
        for when, event in events:
            if "binding" in event:
                pending = (when, focused)
            elif event.get("change") == "focus":
                con = event["container"]["id"]
                if pending and con != pending[1]:
                    samples.append(when - pending[0])
                    pending = None
                focused = con
        return samples

    def kept_hud(self, rounds):
        """Held sessions from one wtype (see kept_keyboard): seconds from each binding event to
        the HUD's log line."""
        since, keys = len(self.log), len(self.sway.events)
        typed = []
        for _ in range(rounds):
            typed += [*SUPER_DOWN, "-k", "Tab", "-s", "600", *SUPER_UP, "-s", "600"]
        self.sway.start(["wtype", *typed]).wait()
        time.sleep(0.5)
        with self.sway.events.changed:
            pressed = [when for when, line in self.sway.events.lines[keys:] if '"binding"' in line]
        with self.log.changed:
            shown = [when for when, line in self.log.lines[since:] if HUD_LINE in line]
        samples = []
        for at in pressed:
            after = [when for when in shown if when > at]
            samples.append(after[0] - at if after else None)
        return samples

    def floor(self):
        """wtype typing a key sway binds to the focus command itself: no Tolvane in the way."""
        self.sway.msg("--", "bindsym", "--no-repeat", "Mod4+F12", f"[con_id={self.other_con()}] focus")
        return ["wtype", *SUPER_DOWN, "-k", "F12", *SUPER_UP]

    def other_con(self):
        tree = self.sway.tree()
        current = focused_con(tree)
        return next(v["id"] for v in views(tree)
                    if v["id"] != current and v.get("app_id") in TERMINALS)

    def measure(self):
        results = {"windows": self.windows, "warmed": self.warmed.strip().split("warmed ")[-1]}
        trigger = [TOLVANE, "trigger", "next"]
        for name, command in [("tap", self.tap), ("trigger", lambda: trigger),
                              ("swaymsg", lambda: ["swaymsg", f"[con_id={self.other_con()}] focus"]),
                              ("floor", self.floor)]:
            samples = [self.timed(command()) for _ in range(ROUNDS)]
            results[name] = [total for total, _ in samples]
            if name == "tap":
                results["tap_from_key"] = [from_key for _, from_key in samples]
        results["kept"] = self.kept_keyboard(ROUNDS)
        results["kept_hud"] = less_delay(self.kept_hud(HUD_ROUNDS))
        samples = [self.held() for _ in range(HUD_ROUNDS)]
        results["hud"] = less_delay([k for k, _ in samples])
        results["hud_wtype"] = less_delay([w for _, w in samples])
        results["rss"] = rss_mib(self.tolvane.pid)
        results["cpu"] = idle_cpu_percent(self.tolvane.pid, IDLE_SECONDS)
        return results

    def end(self):
        self.sway.end()


def x11_memory():
    """VmRSS of Tolvane on Xvfb + openbox at the same sizes, from the X11 desktop benchmark."""
    if not X11_BENCH or not os.access(X11_BENCH, os.X_OK):
        return {}
    sizes = "|".join(str(n) for n in SIZES)
    out = subprocess.run([X11_BENCH, f"--benchmark_filter=^Memory/windows:({sizes})/",
                          "--benchmark_format=json"], capture_output=True, text=True)
    try:
        runs = json.loads(out.stdout)["benchmarks"]
    except (ValueError, KeyError):
        print(f"the X11 benchmark gave no figures: {out.stderr[-500:]}")
        return {}
    return {int(run["name"].split(":")[1].split("/")[0]): (run.get("rss_MiB"),
                                                         run.get("bare_qt_rss_MiB"))
            for run in runs}


def main():
    print(uptime())
    all_results = []
    for windows in SIZES:
        desktop = Desktop(windows)
        try:
            all_results.append(desktop.measure())
        finally:
            desktop.end()
        r = all_results[-1]
        print(f"\n{windows} windows on sway (Tolvane: {r['warmed']}), {ROUNDS} rounds:")
        print(f"{'Tolvane quick tap (wtype)':>36}: {summary(r['tap'])}")
        print(f"{'the same from sway binding event':>36}: {summary(r['tap_from_key'])}")
        print(f"{'taps from one kept wtype keyboard':>36}: {summary(r['kept'])}")
        print(f"{'wtype, sway binds the focus':>36}: {summary(r['floor'])}")
        print(f"{'tolvane trigger next (exec)':>36}: {summary(r['trigger'])}")
        print(f"{'swaymsg [con_id] focus':>36}: {summary(r['swaymsg'])}")
        print(f"{'held HUD past 0.1 s (binding event)':>36}: {summary(r['hud'])} "
              f"({HUD_ROUNDS} rounds)")
        print(f"{'the same from starting wtype':>36}: {summary(r['hud_wtype'])}")
        print(f"{'held HUD, one kept wtype keyboard':>36}: {summary(r['kept_hud'])}")
        print(f"{'idle CPU':>36}: {r['cpu']:.2f} % over {IDLE_SECONDS:.0f} s")
        print(f"{'resident memory':>36}: {r['rss']:.1f} MiB")
        sys.stdout.flush()
    x11 = x11_memory()
    print("\nresident memory, MiB:  windows   sway    X11   a bare Qt window on X11")
    for r in all_results:
        other, bare = x11.get(r["windows"], (None, None))
        print(f"{r['windows']:>30}  {r['rss']:6.1f}  " +
              "  ".join("     -" if v is None else f"{v:6.1f}" for v in (other, bare)))
    print(uptime())


main()
