#!/usr/bin/env python3
"""Quick-tap latency on sway: a Super-Tab typed by wtype until sway reports the new focus,
beside `swaymsg '[con_id=N] focus'` moving the focus between the same two windows.

Run inside a sway session with Tolvane running (WAYLAND_DISPLAY and SWAYSOCK set) and at
least two windows: `bench/wayland-switch.py [ROUNDS] [path of tolvane]`. It also times the
front door's `tolvane trigger next`, what an `exec` binding runs, which is a whole quick tap
when no key is held. It prints the median and spread of each way over ROUNDS rounds. Both ways
start one process per switch (wtype, swaymsg), so the difference is what Tolvane adds.
"""
import json
import os
import select
import statistics
import subprocess
import sys
import time

ROUNDS = int(sys.argv[1]) if len(sys.argv) > 1 else 20


def focused_con(tree):
    if tree.get("focused") and tree.get("type") in ("con", "floating_con"):
        return tree["id"]
    for child in tree.get("nodes", []) + tree.get("floating_nodes", []):
        found = focused_con(child)
        if found:
            return found
    return None


def views(tree):
    if tree.get("app_id") or tree.get("window_properties"):
        yield tree["id"]
    for child in tree.get("nodes", []) + tree.get("floating_nodes", []):
        yield from views(child)


def tree():
    return json.loads(subprocess.run(["swaymsg", "-t", "get_tree"], capture_output=True,
                                     check=True, text=True).stdout)


events = subprocess.Popen(["swaymsg", "-m", "-t", "subscribe", '["window"]'],
                          stdout=subprocess.PIPE)


def lines():
    """The event stream's lines, read straight from the pipe: Python's buffered reader would
    hide what is waiting from select()."""
    pending = b""
    while True:
        while b"\n" not in pending:
            chunk = os.read(events.stdout.fileno(), 65536)
            if not chunk:
                raise SystemExit("sway's event stream ended")
            pending += chunk
        line, pending = pending.split(b"\n", 1)
        yield line, pending


def drain():
    while select.select([events.stdout], [], [], 0.05)[0]:
        os.read(events.stdout.fileno(), 65536)


def timed(command, before):
    """Seconds from starting `command` to sway's focus event for another window than `before`:
    the overlay's end refocuses the window it covered, which is no switch."""
    drain()
    start = time.perf_counter()
    subprocess.Popen(command, stdout=subprocess.DEVNULL)
    for line, _ in lines():
        event = json.loads(line)
        if event.get("change") == "focus" and event["container"]["id"] != before:
            return time.perf_counter() - start


def measure(name, command_for):
    samples = []
    for _ in range(ROUNDS):
        before = focused_con(tree())
        samples.append(timed(command_for(), before))
        time.sleep(0.3)  # lets the previous switch settle: this is a benchmark, not a test
    ms = sorted(s * 1000 for s in samples)
    print(f"{name:>28}: median {statistics.median(ms):6.2f} ms, "
          f"min {ms[0]:6.2f}, max {ms[-1]:6.2f} ({ROUNDS} rounds)")


def other_con():
    t = tree()
    current = focused_con(t)
    return next(con for con in views(t) if con != current)


print(f"windows: {len(list(views(tree())))}")
measure("Tolvane quick tap (wtype)",
        lambda: ["wtype", "-M", "logo", "-P", "Super_L", "-k", "Tab", "-p", "Super_L",
                 "-m", "logo"])
tolvane = sys.argv[2] if len(sys.argv) > 2 else "tolvane"
measure("tolvane trigger next (exec)", lambda: [tolvane, "trigger", "next"])
measure("swaymsg [con_id] focus", lambda: ["swaymsg", f"[con_id={other_con()}] focus"])
events.kill()
