#!/usr/bin/env bash
# The KDE Plasma suite against a newer KWin than Debian 12's: builds a Debian 13 root with
# mmdebstrap (once; kept in build/debian13-root), builds Tolvane inside it and runs the KWin
# desktop suite there. Outside the test command, which stays on Debian 12. As root.
#
#   scripts/test-newer-desktops.sh [--root-only] [gtest filter]
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
[[ ${1:-} == --root-only ]] && exit 0

# The checkout inside the root, built there and run there; /run on a tmpfs of its own.
mkdir -p "$root/src/tolvane"
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
  umount "$root/dev" "$root/tmp" "$root/run" "$root/proc" "$root/src/tolvane" || true
}
trap cleanup EXIT
filter=${1:-*}
chroot "$root" /bin/bash -c "
  set -euo pipefail
  cd /src/tolvane
  cmake -S . -B build/debian13 -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTOLVANE_WERROR=OFF >/dev/null
  cmake --build build/debian13 -j $(nproc) --target tolvane_kwin_desktop_tests tolvane-hooked
  runtime=\$(mktemp -d); chmod 700 \$runtime
  XDG_RUNTIME_DIR=\$runtime TOLVANE_TEST_ARTIFACTS=\$PWD/build/debian13 dbus-run-session -- \
    build/debian13/tests/desktops/kwin/tolvane_kwin_desktop_tests --gtest_filter='$filter'
"
