#!/usr/bin/env bash
# Installs every Debian 12 package that building, testing and running Tolvane needs.
# Run as root. Packages already present are not fetched again.
set -euo pipefail

packages=(
  # build
  g++ cmake ninja-build ccache pkg-config
  # core libraries
  nlohmann-json3-dev libicu-dev
  # system services: HTTP, digests and random bytes, the secret store, the journal, update feeds
  libcurl4-openssl-dev libssl-dev libsecret-1-dev libsystemd-dev libexpat1-dev
  # the Wayland backend: its protocols (Plasma's for KWin's window list) and keymaps, and Qt's
  # Wayland platform; its desktop tests on a private headless sway, with foot windows, keys from
  # wtype and pictures from grim
  libwayland-dev wayland-protocols plasma-wayland-protocols libxkbcommon-dev qt6-wayland sway foot
  wtype grim
  # tolvane-server: its databases and password hashing; the PostgreSQL server binaries start a
  # private cluster for the server's tests and benchmark; openssl makes the certificate of the
  # test that serves TLS directly
  libsqlite3-dev libpq-dev libargon2-dev postgresql openssl
  # tolvane-server's HTTP layer: Boost.Beast on Boost.Asio (event loop, bounded parser, TLS)
  libboost-dev libboost-system-dev
  # the KWin script's own tests run it in Qt's JavaScript engine, the one KWin runs it in
  qt6-declarative-dev
  # tests and benchmarks (cpp-httplib: the loopback backend mock)
  libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
  # clang: second compiler, libFuzzer targets, and the formatting check
  clang clang-format libclang-rt-14-dev
  # the real desktop: Qt 6 Widgets for painting, xcb for windows, focus and keys
  qt6-base-dev libxcb1-dev libx11-dev libx11-xcb-dev libxcb-keysyms1-dev
  # key presses injected at a known moment, for the desktop benchmark
  libxcb-xtest0-dev
  # desktop tests and the private display of the run command
  xvfb x11-xkb-utils xauth xfonts-base fonts-dejavu-core openbox xterm xdotool x11-utils dbus imagemagick
  # the peer measured beside Tolvane in the desktop benchmark
  rofi fzf
  # the test command reads the results ctest writes (JUnit XML) for its summary
  python3
  # a tray host for the tray item's desktop tests
  trayer
  # the KWin desktop tests run a private virtual KWin
  kwin-wayland
  # the GNOME desktop tests run a private headless GNOME Shell, with a system bus of its own on
  # the machine's own policy
  gnome-shell dbus-system-bus-common
  # a Secret Service for the secret store's tests
  gnome-keyring
  # the browser hand-off and URL-scheme registration of the run command
  xdg-utils
  # the Debian package: dpkg-shlibdeps and dpkg-buildflags, the ELF detection of CPack, the
  # package's checker
  dpkg-dev file lintian
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "install-deps: missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
