#!/usr/bin/env bash
# The KDE Plasma and GNOME suites against a newer KWin and GNOME Shell than Debian 12's: builds a
# Debian 13 root with mmdebstrap (once; kept in build/debian13-root), builds Tolvane inside it and
# runs the desktop suites there. Outside the test command, which stays on Debian 12. As root.
#
#   scripts/test-newer-desktops.sh [--root-only] [kwin|gnome] [gtest filter]
#
# Without a suite named, both run.
set -euo pipefail
cd "$(dirname "$0")/.."

root=$PWD/build/debian13-root
packages=(
  # building Tolvane
  g++ cmake ninja-build pkg-config libc6-dev nlohmann-json3-dev libicu-dev libcurl4-openssl-dev
  libssl-dev libsecret-1-dev libsystemd-dev libexpat1-dev libwayland-dev wayland-protocols
  libxkbcommon-dev qt6-base-dev qt6-wayland libxcb1-dev libx11-dev libx11-xcb-dev
  libxcb-keysyms1-dev libxcb-xtest0-dev libgtest-dev libgmock-dev libcpp-httplib-dev
  libsqlite3-dev libpq-dev libargon2-dev libboost-dev libboost-system-dev libbenchmark-dev
  qt6-declarative-dev
  # the suite: KWin without the rest of Plasma, its protocols, a session bus
  kwin-wayland plasma-wayland-protocols dbus python3 imagemagick
  # Mesa: KWin 6 composites with OpenGL only where EGL works, and takes screenshots only then
  libgl1-mesa-dri libegl-mesa0
  # the GNOME suite: the Shell, and a system bus of its own on the machine's policy
  gnome-shell dbus-system-bus-common
)

if [[ ! -x $root/usr/bin/kwin_wayland ]]; then
  command -v mmdebstrap >/dev/null ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends mmdebstrap
  rm -rf "$root"
  mkdir -p "$(dirname "$root")"
  echo "newer desktops: building a Debian 13 root in $root (about 7 minutes)"
  mmdebstrap --variant=apt --aptopt='APT::Install-Recommends "false"' \
    --include="$(IFS=,; echo "${packages[*]}")" trixie "$root" http://deb.debian.org/debian
  # KWin 6 trusts a desktop entry only where an applications menu exists; a real Plasma has one.
  mkdir -p "$root/etc/xdg/menus"
  cat >"$root/etc/xdg/menus/applications.menu" <<'MENU'
<!DOCTYPE Menu PUBLIC "-//freedesktop//DTD Menu 1.0//EN"
 "http://www.freedesktop.org/standards/menu-spec/1.0/menu.dtd">
<Menu><Name>Applications</Name><DefaultAppDirs/><Include><All/></Include></Menu>
MENU
fi
# A root made before a package joined the list gets it added, not rebuilt.
missing=$(chroot "$root" dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' "${packages[@]}" 2>&1 |
  grep -v '^ii ' || true)
if [[ -n $missing ]]; then
  echo "newer desktops: adding what $root lacks (a few minutes):"$'\n'"$missing"
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  chroot "$root" apt-get update -qq
  chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    --no-install-recommends "${packages[@]}"
fi
[[ ${1:-} == --root-only ]] && exit 0

# The checkout inside the root, built there and run there; /run on a tmpfs of its own. The root
# is a mount of its own, private: the GNOME harness's mount namespace needs its / to be one.
mkdir -p "$root/src/tolvane"
mount --bind "$root" "$root"
mount --make-private "$root"
mount --bind "$PWD" "$root/src/tolvane"
mount -t proc proc "$root/proc"
mount -t tmpfs tmpfs "$root/run"
mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
mount --bind /dev "$root/dev"
# Whatever the suite left running inside the root goes before its mounts do.
cleanup() {
  local p
  for p in /proc/[0-9]*; do
    [[ $(readlink "$p/root" 2>/dev/null) == "$root"* ]] && kill -9 "${p#/proc/}" 2>/dev/null
  done
  umount "$root/dev" "$root/tmp" "$root/run" "$root/proc" "$root/src/tolvane" "$root" || true
}
trap cleanup EXIT
suites=(kwin gnome)
if [[ ${1:-} == kwin || ${1:-} == gnome ]]; then
  suites=("$1")
  shift
fi
filter=${1:-*}
for suite in "${suites[@]}"; do
  chroot "$root" /bin/bash -c "
    set -euo pipefail
    cd /src/tolvane
    cmake -S . -B build/debian13 -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTOLVANE_WERROR=OFF >/dev/null
    cmake --build build/debian13 -j $(nproc) --target tolvane_${suite}_desktop_tests tolvane-hooked
    runtime=\$(mktemp -d); chmod 700 \$runtime
    XDG_RUNTIME_DIR=\$runtime TOLVANE_TEST_ARTIFACTS=\$PWD/build/debian13 dbus-run-session -- \
      build/debian13/tests/desktops/$suite/tolvane_${suite}_desktop_tests --gtest_filter='$filter'
  "
done
