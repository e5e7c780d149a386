"""What the desktop benchmarks of the quick tap share: timed lines from the children, bounded
set-up waits, Tolvane's private folders, its CPU and memory, and the figures' summary."""
import os
import statistics
import subprocess
import threading
import time

# Starting a thousand toplevels, and Tolvane's warm-up over them, take a while on a busy machine.
START_BOUND = 180.0
SHOW_DELAY = 0.1
HUD_LINE = "wayland: overlay shown hud"
WARMED_LINE = "window snapshot warmed"
# wtype's words, which the KWin key tool speaks too: a real Super press sets the modifier and
# presses the key.
SUPER_DOWN = ["-M", "logo", "-P", "Super_L"]
SUPER_UP = ["-p", "Super_L", "-m", "logo"]


class Lines:
    """A pipe's lines as they arrive, each with the time it was read, by a thread of its own
    so that a timestamp is not late by whatever the main thread was doing. With `chunks`, each
    read is one entry: for a stream of typed characters that has no line ends."""

    def __init__(self, pipe, chunks=False):
        self.lines, self.closed = [], False
        self.changed = threading.Condition()
        read = (lambda: os.read(pipe.fileno(), 4096)) if chunks else pipe.readline
        threading.Thread(target=self._read, args=(read,), daemon=True).start()

    def _read(self, read):
        for raw in iter(read, b""):
            with self.changed:
                self.lines.append((time.perf_counter(), raw.decode(errors="replace")))
                self.changed.notify_all()
        with self.changed:
            self.closed = True
            self.changed.notify_all()

    def wait(self, found, bound=START_BOUND, since=0):
        """The first (time, line) from index `since` on for which found(line) holds; None when
        `bound` seconds passed first, or the pipe closed."""
        deadline = time.perf_counter() + bound
        at = since
        with self.changed:
            while True:
                for when, line in self.lines[at:]:
                    if found(line):
                        return when, line
                at = len(self.lines)
                left = deadline - time.perf_counter()
                if left <= 0 or self.closed:
                    return None
                self.changed.wait(left)

    def count(self, text):
        with self.changed:
            return sum(text in line for _, line in self.lines)

    def __len__(self):
        with self.changed:
            return len(self.lines)


def poll(ready, what, bound=START_BOUND):
    """Asks `ready` until it holds: a benchmark's set-up, where a sleep costs nothing measured."""
    deadline = time.perf_counter() + bound
    while not ready():
        if time.perf_counter() > deadline:
            raise SystemExit(f"timed out waiting for {what}")
        time.sleep(0.2)


def tolvane_environment(home, base):
    """`base` with Tolvane's folders under `home` and the guide finished: nothing of the user's
    own configuration reaches the measured Tolvane."""
    env = dict(base, HOME=home, XDG_SESSION_TYPE="wayland")
    for name in ("XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME"):
        env[name] = f"{home}/{name}"
        os.makedirs(env[name], mode=0o700)
    store = f"{env['XDG_CONFIG_HOME']}/com.brenmoor.tolvane"
    os.makedirs(store)
    with open(f"{store}/preferences.json", "w") as prefs:
        prefs.write('{"onboardingCompleted": true}')
    return env


def cpu_seconds(pid):
    """CPU time of all of the process's threads, in nanoseconds' precision (schedstat), where
    the clock ticks of /proc/PID/stat count 10 ms at a time."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as stat:
                total += int(stat.read().split()[0])
        except (FileNotFoundError, ProcessLookupError):
            pass  # a thread that ended meanwhile
    return total / 1e9


def idle_cpu_percent(pid, seconds):
    """The process's CPU share over a quiet span, once what the switches left behind (a
    refocus, a re-query) has settled."""
    time.sleep(2)
    before, start = cpu_seconds(pid), time.perf_counter()
    time.sleep(seconds)
    return (cpu_seconds(pid) - before) / (time.perf_counter() - start) * 100


def rss_mib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024


def summary(samples):
    ms = sorted(s * 1000 for s in samples if s is not None)
    missed = sum(s is None for s in samples)
    if not ms:
        return "no samples"
    text = f"median {statistics.median(ms):7.2f} ms, min {ms[0]:7.2f}, max {ms[-1]:7.2f}"
    return text + (f" ({missed} missed)" if missed else "")


def less_delay(samples):
    return [s - SHOW_DELAY if s else None for s in samples]


def uptime():
    return "uptime:" + subprocess.run(["uptime"], capture_output=True, text=True).stdout.rstrip()
