#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The Windows installer as a user meets it, under wine64 on an X server with a window
# manager (run inside scripts/test-env.sh), in a fresh Wine prefix: "setup.exe /S"
# installs the program under Program Files with a Start menu entry and its entry in
# the Apps list (the Uninstall key); the installed program starts, shows its control
# window ("Not connected": no board here) and ends with exit code 0 when closed with
# Alt+F4; the Apps list's quiet uninstall removes the files, the entry and the key.
#   win32-installer-test.sh BUILD_DIR   (the core's build folder of ci-windows.sh)
set -euo pipefail
build="$(cd "$1" && pwd)"
work="$build/installer-test"
# shellcheck source=scripts/wine-env.sh
. "$(dirname "$0")/wine-env.sh"
setup="$(find "$build/src/main/win32" -maxdepth 1 -name 'tavrin-capture-*-setup.exe' | head -1)"
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
[ -n "$setup" ] || fail "no tavrin-capture-*-setup.exe in $build/src/main/win32 (is makensis installed?)"

rm -rf "$work"
mkdir -p "$work/home"
export HOME="$work/home"
trap '"$wineserver" -k 2>/dev/null || true' EXIT
wine_prefix "$work/prefix"

key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\TavrinCapture'
folder="$WINEPREFIX/drive_c/Program Files/Tavrin Capture"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tavrin Capture.lnk"
value() { "$wine64" reg query "$key" /v "$1" </dev/null 2>/dev/null | tr -d '\r' | sed -n "s/^ *$1 *REG_[A-Z]* *//p"; }

timeout 120 "$wine64" "$setup" /S </dev/null || fail "$(basename "$setup") /S: exit code $?"
for f in tavrin-capture.exe uninstall.exe COPYING.txt; do
  [ -f "$folder/$f" ] || fail "not installed: $folder/$f"
done
cmp -s "$folder/tavrin-capture.exe" "$build/src/main/win32/tavrin-capture.exe" || fail "the installed program is not the one built"
[ -f "$shortcut" ] || fail "no Start menu entry $shortcut"
grep -qa 'tavrin-capture.exe' "$shortcut" || fail "the Start menu entry does not start tavrin-capture.exe"
[ "$(value DisplayName)" = "Tavrin Capture" ] || fail "DisplayName: $(value DisplayName)"
version="$(basename "$setup" -setup.exe)"
[ "$(value DisplayVersion)" = "${version#tavrin-capture-}" ] || fail "DisplayVersion: $(value DisplayVersion)"
[ "$(value UninstallString)" = '"C:\Program Files\Tavrin Capture\uninstall.exe"' ] || fail "UninstallString: $(value UninstallString)"
quiet="$(value QuietUninstallString)"
[ "$quiet" = '"C:\Program Files\Tavrin Capture\uninstall.exe" /S' ] || fail "QuietUninstallString: $quiet"
echo "installed: $(basename "$setup") /S put $(ls "$folder" | paste -sd ' ') in C:\\Program Files\\Tavrin Capture, the Start menu entry and the Apps entry \"$(value DisplayName)\" $(value DisplayVersion)"

# The installed program, started as the Start menu does, closed as a user does.
"$wine64" 'C:\Program Files\Tavrin Capture\tavrin-capture.exe' </dev/null >"$work/program.out" 2>&1 &
pid=$!
shown="$("$wine64" "$build/tests/platform/win32/tavrin_win32_probe.exe" 30 "Not connected" </dev/null 2>/dev/null | tr -d '\r')" ||
  fail "the installed program's control window did not read \"Not connected\": $shown"
at="$(sed -n 's/^statusline=//p' <<<"$shown")"
[ -n "$at" ] || fail "the probe gave no position for the status line"
# shellcheck disable=SC2086
xdotool mousemove --sync $at click 1
sleep 0.3
xdotool key --clearmodifiers alt+F4
for _ in $(seq 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "the installed program still runs 10 s after Alt+F4"
code=0
wait "$pid" || code=$?
[ "$code" -eq 0 ] || fail "the installed program ended with exit code $code"
echo "installed program: $(grep '^status=' <<<"$shown"), closed with Alt+F4, exit code 0"

# The quiet uninstall as the Apps list runs it. The uninstaller runs on from a copy of
# itself in the temporary folder, so its end is awaited by what it removes.
"$wine64" 'C:\Program Files\Tavrin Capture\uninstall.exe' /S </dev/null || fail "uninstall.exe /S: exit code $?"
for _ in $(seq 300); do
  [ ! -e "$folder" ] && [ ! -e "$shortcut" ] && ! "$wine64" reg query "$key" </dev/null >/dev/null 2>&1 && break
  sleep 0.1
done
[ ! -e "$folder" ] || fail "still there after the uninstall: $(ls "$folder" | paste -sd ' ')"
[ ! -e "$shortcut" ] || fail "the Start menu entry is still there after the uninstall"
"$wine64" reg query "$key" </dev/null >/dev/null 2>&1 && fail "the Apps entry is still there after the uninstall"
echo "uninstalled: the folder, the Start menu entry and the Apps entry are gone"
echo "Windows installer tests passed"
