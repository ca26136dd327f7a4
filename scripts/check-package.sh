#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Makes the Debian package in a build folder ($1) and checks it: lintian without
# errors, the AppStream metainfo, the desktop entry and the manual page valid, the
# udev rule where udev acts on its uaccess tag, and the packaged program starting
# far enough to print its version.
set -euo pipefail
build="$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)"
root="$(cd "$(dirname "$0")/.." && pwd)"

rm -f "$build"/tavrin-capture_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb="$(ls "$build"/tavrin-capture_*.deb)"
echo "package: $deb"
dpkg-deb --field "$deb" Version Depends Recommends

if grep -q '^TAVRIN_PIPEWIRE_FOUND:INTERNAL=1' "$build/CMakeCache.txt"; then
  # The camera's library, found by dpkg-shlibdeps in the program itself.
  dpkg-deb --field "$deb" Depends | grep -q 'libpipewire-0.3-0' ||
    { echo "the package does not depend on libpipewire-0.3-0"; exit 1; }
fi

echo "-- lintian"
lintian --fail-on error --tag-display-limit 0 "$deb"

unpacked="$(mktemp -d)"
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
echo "-- appstreamcli"
appstreamcli validate --no-net "$unpacked/usr/share/metainfo/org.tavrin.Capture.metainfo.xml"
echo "-- desktop-file-validate"
desktop-file-validate "$unpacked/usr/share/applications/org.tavrin.Capture.desktop"
echo "-- manual page"
warnings="$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l \
  "$unpacked/usr/share/man/man1/tavrin-capture.1.gz" 2>&1 >/dev/null)"
if [ -n "$warnings" ]; then echo "$warnings"; exit 1; fi
echo "-- udev rule"
rule="$(ls "$unpacked"/usr/lib/udev/rules.d/*tavrin-capture.rules)"
number="$(basename "$rule" | cut -d- -f1)"
if [ "$number" -ge 73 ]; then echo "$rule: the seat rules (73) act on uaccess before it"; exit 1; fi
grep -q 'TAG+="uaccess"' "$rule"
if grep -q 'GROUP=' "$rule"; then echo "$rule: no group may be needed"; exit 1; fi
echo "-- tavrin-capture --version from the package"
version="$(env -u DISPLAY -u WAYLAND_DISPLAY "$unpacked/usr/bin/tavrin-capture" --version)"
echo "$version"
expected="Tavrin Capture $(sed -n 's/^project(TavrinCapture VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
[ "$version" = "$expected" ] || { echo "expected: $expected"; exit 1; }
echo "package checks passed"
