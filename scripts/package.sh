#!/usr/bin/env bash
# Builds the Debian package of an optimised tolvane (the executable alone: no tests, no tools),
# checks it with lintian and by unpacking it, and prints its contents and where it is.
# Needs the packages of scripts/install-deps.sh; scripts/test.sh runs it.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/package
started=$SECONDS

# Debian's flags: -O2 and the hardening (stack protector, fortified calls, read-only
# relocations, immediate binding). -g stays out, the binary is stripped; so does the release
# build's -O3, with which gcc 12 reports a false -Wrestrict in std::string's operator+.
debian_flags() {
  DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1" | sed -E 's/(^| )-g( |$)/ /g'
}
cmake --preset package \
  -DCMAKE_CXX_FLAGS="$(debian_flags CPPFLAGS) $(debian_flags CXXFLAGS)" \
  -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
  -DCMAKE_EXE_LINKER_FLAGS="$(debian_flags LDFLAGS)" >/dev/null
cmake --build --preset package -j "$(nproc)"
rm -f "$build"/tolvane_*.deb
cpack --config "$build/CPackConfig.cmake" -B "$build" >/dev/null
debs=("$build"/tolvane_*.deb)
deb=${debs[0]}

fail() {
  echo "package: $*" >&2
  exit 1
}

echo "== lintian"
# Errors fail the package; warnings are printed with the rest.
lintian_output=$(lintian --fail-on error --display-info "$deb" 2>&1) ||
  fail "lintian reports errors: $lintian_output"
# As root (the test command's case) lintian says first that it would rather not be.
lintian_output=$(grep -v '^running with root privileges' <<<"$lintian_output" || true)

root=$(mktemp -d /tmp/tolvane-package-XXXXXX)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"

expect_file() {
  [[ -f $root/$1 && ! -L $root/$1 ]] || fail "missing $1"
}

# The width and height stored in a PNG's header.
png_size() {
  od -An -tu1 -j16 -N8 "$1" | awk '{ print $3 * 256 + $4 "x" $7 * 256 + $8 }'
}

expect_file usr/bin/tolvane
[[ -x $root/usr/bin/tolvane ]] || fail "usr/bin/tolvane is not executable"
# The front door starts the desktop program and the filter from the libexec folder.
for program in tolvane-desktop tolvane-filter; do
  expect_file usr/libexec/tolvane/$program
  [[ -x $root/usr/libexec/tolvane/$program ]] || fail "$program is not executable"
done

# The desktop tests' hooks (a deliberate crash, a stalled main thread) live only in their own
# build of the program; a link naming one must mean nothing to the program users install.
if grep -aq 'tolvane://test-' "$root/usr/libexec/tolvane/tolvane-desktop"; then
  fail "tolvane-desktop carries the desktop tests' hooks"
fi

entry=usr/share/applications/com.brenmoor.tolvane.desktop
expect_file "$entry"
for line in 'Exec=tolvane %u' 'Icon=com.brenmoor.tolvane' 'MimeType=x-scheme-handler/tolvane;' \
  'StartupWMClass=tolvane'; do
  grep -qxF "$line" "$root/$entry" || fail "$entry lacks the line $line"
done

expect_file usr/share/icons/hicolor/scalable/apps/com.brenmoor.tolvane.svg
for size in 16 24 32 48 64 128 256; do
  icon=usr/share/icons/hicolor/${size}x${size}/apps/com.brenmoor.tolvane.png
  expect_file "$icon"
  [[ $(png_size "$root/$icon") == "${size}x${size}" ]] || fail "$icon is not ${size}x${size}"
done

expect_file usr/share/man/man1/tolvane.1.gz
zcat "$root/usr/share/man/man1/tolvane.1.gz" | grep -q '^\.SH EXIT STATUS' ||
  fail "the manual page is not readable"

expect_file usr/share/doc/tolvane/copyright
head -1 "$root/usr/share/doc/tolvane/copyright" | grep -q '^Format: ' ||
  fail "copyright is not in the machine-readable format"
expect_file usr/share/doc/tolvane/changelog.Debian.gz
version=$(dpkg-deb -f "$deb" Version)
zcat "$root/usr/share/doc/tolvane/changelog.Debian.gz" | head -1 | grep -qF "tolvane ($version)" ||
  fail "changelog.Debian.gz does not start with version $version"

reported=$("$root/usr/bin/tolvane" --version) || fail "tolvane --version failed"
[[ $reported == "tolvane ${version%-*}" ]] || fail "tolvane --version says '$reported'"

depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libqt6widgets6 libxcb1 libcurl4 libsecret-1-0; do
  [[ $depends =~ (^|, )$library( |,|$) ]] || fail "Depends lacks $library: $depends"
done

echo "== contents of $deb"
dpkg-deb -c "$deb" | awk '{ print $1, $6 }'
echo "== control"
dpkg-deb -f "$deb" Package Version Architecture Section Depends Recommends Suggests
echo "== lintian: $(grep -c '^E: ' <<<"$lintian_output" || true) errors," \
  "$(grep -c '^W: ' <<<"$lintian_output" || true) warnings," \
  "$(grep -c '^I: ' <<<"$lintian_output" || true) notes"
[[ -z $lintian_output ]] || echo "$lintian_output"
echo "package: $deb ($((SECONDS - started)) s)"
