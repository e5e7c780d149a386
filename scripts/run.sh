#!/usr/bin/env bash
# Builds Tolvane (optimised) and starts it, from a clean checkout on Debian 12, as root.
#
# In a Wayland session (WAYLAND_DISPLAY) or with an X display (DISPLAY set and reachable) Tolvane
# starts on it and runs until it quits. Without either, a private X display is started instead
# (Xvfb, openbox, three terminals), then a private headless sway (three foot terminals): on each
# Tolvane performs one switch with the HUD held, a screenshot is saved, its path printed, and
# everything this script started is stopped again.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset release >/dev/null
# The front door and, with it, the desktop program it starts in its place (tolvane-desktop).
cmake --build --preset release -j "$(nproc)" --target tolvane tolvane-gnome-extension
tolvane=$PWD/build/release/src/tolvane

# The desktop entry for this build: the browser's sign-in hands its tolvane:// callback to the
# program the entry names.
register_url_handler() {
  local applications=${XDG_DATA_HOME:-$HOME/.local/share}/applications
  mkdir -p "$applications"
  sed "s|@TOLVANE_EXEC@|$tolvane|" data/com.brenmoor.tolvane.desktop.in \
    >"$applications/com.brenmoor.tolvane.desktop"
  # KDE Plasma lends its window list to the program this entry names (see data/CMakeLists.txt).
  sed "s|@TOLVANE_DESKTOP_EXEC@|$(dirname "$tolvane")/tolvane-desktop|" \
    data/com.brenmoor.tolvane.desktop-program.desktop.in \
    >"$applications/com.brenmoor.tolvane.desktop-program.desktop"
  if command -v xdg-mime >/dev/null; then
    xdg-mime default com.brenmoor.tolvane.desktop x-scheme-handler/tolvane
  fi
  if command -v update-desktop-database >/dev/null; then
    update-desktop-database "$applications" 2>/dev/null || true
  fi
}

# GNOME Shell loads extensions from the user's folder too: this build's, for the Shell that runs
# (an ES module from GNOME 45 on), enabled for the next start of the Shell. A Shell that runs
# now loads a new extension only at the next login; Tolvane says so and waits for it.
install_gnome_extension() {
  command -v gnome-shell >/dev/null || return 0
  local major kind=legacy uuid=tolvane@brenmoor.com
  major=$(gnome-shell --version | grep -o '[0-9]\+' | head -1)
  ((major >= 45)) && kind=module
  local extensions=${XDG_DATA_HOME:-$HOME/.local/share}/gnome-shell/extensions
  mkdir -p "$extensions"
  rm -rf "${extensions:?}/$uuid"
  cp -r "build/release/gnome-shell/$kind/$uuid" "$extensions/"
  if command -v gdbus >/dev/null; then
    gdbus call --session -d org.gnome.Shell -o /org/gnome/Shell \
      -m org.gnome.Shell.Extensions.EnableExtension "$uuid" >/dev/null 2>&1 || true
  fi
}

# A Wayland session: Tolvane decides itself whether this compositor lets it work, and says so.
wayland_socket=${WAYLAND_DISPLAY:-}
[[ -n $wayland_socket && $wayland_socket != /* ]] && wayland_socket=${XDG_RUNTIME_DIR:-}/$wayland_socket
if [[ -n "${WAYLAND_DISPLAY:-}" && -S $wayland_socket ]]; then
  register_url_handler
  [[ ${XDG_CURRENT_DESKTOP:-} == *GNOME* ]] && install_gnome_extension
  exec "$tolvane" "$@"
fi

if [[ -n "${DISPLAY:-}" ]] && xdpyinfo >/dev/null 2>&1; then
  register_url_handler
  exec "$tolvane" "$@"
fi

echo "run: no X display here; starting a private one to show Tolvane at work"
work=$(mktemp -d /tmp/tolvane-demo-XXXXXX)
out=$PWD/build/demo
mkdir -p "$out"
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Bounded waits for the demo's own steps: a condition checked ten times a second.
wait_for() {
  local what=$1 tries=200
  shift
  until "$@" >/dev/null 2>&1; do
    ((tries--)) || { echo "run: gave up waiting for $what" >&2; exit 1; }
    sleep 0.1
  done
}

mkfifo "$work/displayfd"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/displayfd" >/dev/null 2>&1 &
pids+=($!)
read -r number <"$work/displayfd"
export DISPLAY=":$number"
export XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
echo "run: private display $DISPLAY"

openbox >/dev/null 2>&1 &
pids+=($!)
wait_for "the window manager" sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'
for title in Notes Mail Build; do
  xterm -T "$title" -geometry 70x20 >/dev/null 2>&1 &
  pids+=($!)
  wait_for "the $title terminal" xdotool search --name "^$title\$"
done

"$tolvane" --verbose 2>"$work/tolvane.log" &
tolvane_pid=$!
pids+=($tolvane_pid)
wait_for "Tolvane to warm up" grep -q "window snapshot warmed" "$work/tolvane.log"

before=$(xprop -root _NET_ACTIVE_WINDOW | awk '{print $NF}')
xdotool keydown super key Tab
# The HUD appears once Super has been held for 0.1 s; give it a moment to paint.
sleep 0.5
import -window root "$out/hud.png"
xdotool keyup super
wait_for "the switch" sh -c "[ \"\$(xprop -root _NET_ACTIVE_WINDOW | awk '{print \$NF}')\" != $before ]"
after=$(xprop -root _NET_ACTIVE_WINDOW | awk '{print $NF}')

echo "run: Super-Tab switched the active window from $before ($(xdotool getwindowname "$before"))" \
  "to $after ($(xdotool getwindowname "$after"))"
echo "run: screenshot of the HUD: $out/hud.png"
kill -TERM "$tolvane_pid"
wait "$tolvane_pid" || true
cp "$work/tolvane.log" "$out/tolvane.log"
echo "run: Tolvane's log: $out/tolvane.log; stopping the private display"

# The same on a private headless sway. sway refuses to run as root, so it runs as nobody in a
# folder of its own; Tolvane and the terminals connect to its sockets by path.
echo "run: now on a private headless sway"
sway_dir=$work/sway
# nobody passes through the demo's folder to its own, and sees nothing else of it.
chmod 711 "$work"
mkdir -p -m 700 "$sway_dir"
chown nobody "$sway_dir"
echo "output HEADLESS-1 resolution 1280x800" >"$sway_dir/conf"
setpriv --reuid=nobody --regid=nogroup --clear-groups env -i PATH=/usr/bin:/bin HOME="$sway_dir" \
  XDG_RUNTIME_DIR="$sway_dir" WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
  sway -c "$sway_dir/conf" >"$work/sway.log" 2>&1 &
pids+=($!)
wait_for "sway" sh -c "ls $sway_dir/sway-ipc.*.sock"
export WAYLAND_DISPLAY=$sway_dir/wayland-1 SWAYSOCK
SWAYSOCK=$(ls "$sway_dir"/sway-ipc.*.sock)
unset DISPLAY
focused() {
  swaymsg -t get_tree | python3 -c '
import json, sys
def walk(node):
    if node.get("app_id") and node.get("focused"): print(node.get("name"))
    for child in node.get("nodes", []) + node.get("floating_nodes", []): walk(child)
walk(json.load(sys.stdin))'
}
for title in Notes Mail Build; do
  foot -a "${title,,}" -T "$title" >/dev/null 2>&1 &
  pids+=($!)
  wait_for "the $title terminal" sh -c "swaymsg -t get_tree | grep -q '\"app_id\": \"${title,,}\"'"
done
"$tolvane" --verbose 2>"$work/tolvane-wayland.log" &
tolvane_pid=$!
pids+=($tolvane_pid)
wait_for "Tolvane to warm up on sway" grep -q "window snapshot warmed" "$work/tolvane-wayland.log"
before=$(focused)
wtype -M logo -P Super_L -k Tab -s 1500 -p Super_L -m logo &
typing=$!
wait_for "the HUD on sway" grep -q "wayland: overlay shown hud" "$work/tolvane-wayland.log"
grim "$out/hud-wayland.png"
wait "$typing"
switched() { [[ "$(focused)" != "$before" ]]; }
wait_for "the switch on sway" switched
echo "run: on sway, Super-Tab switched from $before to $(focused)"
echo "run: screenshot of the HUD on sway: $out/hud-wayland.png"
kill -TERM "$tolvane_pid"
wait "$tolvane_pid" || true
cp "$work/tolvane-wayland.log" "$out/tolvane-wayland.log"
