#!/usr/bin/env bash
# tolvane-server under hostile clients: for each attack, a fresh server on SQLite, the attack
# running, and a normal request's latency during it; then the server's peak RSS. Prints one
# table. Usage: bench/server/attacks.sh [SERVER_BINARY] (default: the release build's).
set -euo pipefail
cd "$(dirname "$0")/../.."
binary=${1:-build/release/server/tolvane-server}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# 1 GiB of zeros as about 1 MB of gzip.
head -c 1073741824 /dev/zero | gzip -9 >"$work/bomb.gz"
exec python3 - "$binary" "$work" <<'EOF'
import os, socket, subprocess, sys, threading, time

binary, work = sys.argv[1], sys.argv[2]

def start():
    db = os.path.join(work, "t%d.db" % time.monotonic_ns())
    proc = subprocess.Popen([binary, "--db", db, "--listen", "127.0.0.1:0"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    line = proc.stderr.readline()
    port = int(line.split("127.0.0.1:")[1].split()[0])
    return proc, port

def peak_kib(proc):
    with open("/proc/%d/status" % proc.pid) as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])

def normal_ms(port):
    """A normal request's time to its answer (no answer within 30 s: inf)."""
    began = time.monotonic()
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=30) as s:
            s.sendall(b"GET /api/me HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
            if not s.recv(64).startswith(b"HTTP/1.1 401"):
                return float("nan")
    except OSError:
        return float("inf")
    return (time.monotonic() - began) * 1000

def send_quietly(port, head, parts):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=60) as s:
            s.sendall(head)
            for part in parts:
                s.sendall(part)
            s.settimeout(60)
            s.recv(64)
    except OSError:
        pass

def gzip_bomb(port, stop):
    body = open(os.path.join(work, "bomb.gz"), "rb").read()
    head = ("POST /api/testlog HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
            "Content-Encoding: gzip\r\nContent-Length: %d\r\n\r\n" % len(body)).encode()
    send_quietly(port, head, [body])

def chunked(port, stop):
    head = (b"POST /api/testlog HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
            b"Transfer-Encoding: chunked\r\n\r\n")
    chunk = b"100000\r\n" + b" " * 0x100000 + b"\r\n"
    send_quietly(port, head, [chunk] * 64 + [b"0\r\n\r\n"])

def headers(port, stop):
    line = b"X-Filler: " + b"a" * 4000 + b"\r\n"
    send_quietly(port, b"GET /api/me HTTP/1.1\r\nHost: x\r\n", [line] * 20000 + [b"\r\n"])

def slow_clients(port, stop):
    sockets = []
    for _ in range(80):
        try:
            # From another address, as a stranger would: the normal request is not theirs.
            s = socket.create_connection(("127.0.0.1", port), timeout=5,
                                         source_address=("127.0.0.2", 0))
            s.sendall(b"GET /api/me HTTP/1.1\r\n")
            sockets.append(s)
        except OSError:
            pass
    while not stop.wait(3):
        for s in sockets:
            try:
                s.sendall(b"X-Slow: 1\r\n")
            except OSError:
                pass
    for s in sockets:
        s.close()

def run(name, attack):
    proc, port = start()
    normal_ms(port)
    idle = peak_kib(proc)
    stop = threading.Event()
    attacker = threading.Thread(target=attack, args=(port, stop))
    attacker.start()
    time.sleep(4 if attack is slow_clients else 0.5)
    latencies = [normal_ms(port) for _ in range(5)]
    stop.set()
    attacker.join()
    alive = normal_ms(port)
    peak = peak_kib(proc)
    proc.terminate()
    proc.wait()
    print("%-22s %9.1f %9.1f %12.1f %14.1f %s" % (name, idle / 1024, peak / 1024,
          max(latencies), alive, "" if alive < 1000 else "(not answering)"))

print("%-22s %9s %9s %12s %14s" % ("attack", "idle MB", "peak MB", "max ms during",
      "ms after"))
run("gzip bomb 1 MB->1 GiB", gzip_bomb)
run("chunked 64 MiB", chunked)
run("20,000 headers of 4 KB", headers)
run("80 slow clients", slow_clients)
EOF
