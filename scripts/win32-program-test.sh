#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The Windows programs as a user meets them, under wine64 on an X server with a window
# manager (run inside scripts/test-env.sh): in a fresh Wine prefix the demonstration
# shows its control window "Tavrin Capture" reading the simulated board's state and a
# picture window "Tavrin Capture - Single" whose picture moves, a close of the control
# window ends it with exit code 0, and the settings file and the update
# check's registry values are where Windows keeps them; the program without a board
# reads "Not connected". Then the Win32 front end's own tests, in the same prefix.
#   win32-program-test.sh BUILD_DIR   (the core's build folder of ci-windows.sh)
set -euo pipefail
build="$(cd "$1" && pwd)"
work="$build/program-test"
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || wine64="$(command -v wine64)"
wineserver=/usr/lib/wine/wineserver
[ -x "$wineserver" ] || wineserver="$(command -v wineserver)"

# A prefix made with the HOME the programs run with, as a user's would be.
rm -rf "$work"
mkdir -p "$work/home"
export HOME="$work/home" WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$wineserver" -p 2>/dev/null || true
trap '"$wineserver" -k 2>/dev/null || true' EXIT
"$wine64" wineboot </dev/null >/dev/null 2>&1 || true

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
probe() { "$wine64" "$build/tests/platform/win32/tavrin_win32_probe.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }

# Runs one program, checks what its control window says, runs the function `steps`
# (when given) with the probe's output, closes the window as a user does (Alt+F4 on
# it) and checks the exit code.
run_and_close() {
  local exe="$1" status="$2" picture="${3:-}" steps="${4:-}"
  "$wine64" "$build/src/main/win32/$exe" </dev/null >"$work/$exe.out" 2>&1 &
  local pid=$!
  local shown
  shown="$(probe 30 "$status")" || fail "$exe: control window not found or status not \"$status\": $shown"
  echo "$exe: $(echo "$shown" | paste -sd ' ')"
  grep -qx "title=Tavrin Capture" <<<"$shown" || fail "$exe: title"
  grep -qx "layout=Single window" <<<"$shown" || fail "$exe: layout list"
  if [ -n "$picture" ]; then
    # The simulated board's picture, 256 x 384 at 1x: not white, and moving.
    local pic
    pic="$(xdotool search --sync --onlyvisible --limit 1 --name '^Tavrin Capture - Single$')" || fail "$exe: no picture window"
    sleep 1
    import -window "$pic" "$work/picture-1.png"
    sleep 1
    import -window "$pic" "$work/picture-2.png"
    local size mean changed
    size="$(identify -format '%wx%h' "$work/picture-1.png")"
    mean="$(convert "$work/picture-1.png" -format '%[fx:int(mean*1000)]' info:)"
    changed="$(compare -metric AE "$work/picture-1.png" "$work/picture-2.png" null: 2>&1 || true)"
    echo "$exe: picture window $size, mean level $mean/1000, $changed pixels changed in a second"
    [ "$size" = "256x384" ] || fail "$exe: the picture window's client area is $size, not 256x384"
    [ "$mean" -lt 990 ] || fail "$exe: the picture is white"
    [ "${changed%% *}" -gt 0 ] 2>/dev/null || fail "$exe: the picture did not change in a second"
  fi
  [ -z "$steps" ] || "$steps" "$shown"
  # Wine may make the control window's X window anew while it runs (after a modal dialog,
  # say), so no X window id is kept: a click on the status line brings the window
  # forward, and the keys go to the focus, as a user's would.
  click statusline "$shown"
  sleep 0.3
  xdotool key --clearmodifiers alt+F4
  local code=0
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$pid" 2>/dev/null && fail "$exe: still running 10 s after the close"
  wait "$pid" || code=$?
  [ "$code" -eq 0 ] || fail "$exe: exit code $code"
  echo "$exe: closed, exit code 0"
}

# A click at the centre of a control the probe named ("camera", "audio", "statusline", "ok").
click() {
  local at
  at="$(sed -n "s/^$1=//p" <<<"$2")"
  [ -n "$at" ] || fail "the probe gave no position for $1"
  # shellcheck disable=SC2086
  xdotool mousemove --sync $at click 1
}

# The cfg's audio source, as it is stored (UTF-16) or read (UTF-8).
cfg_has() {
  python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); t = sys.argv[2]
sys.exit(0 if t.encode("utf-16-le") in d or t.encode() in d else 1)' "$1" "$2"
}

# Opens Audio Settings with its button and ends it with Escape, or a click on its OK button.
audio_dialog() {
  local how="$2" dlg
  click audio "$1"
  xdotool search --sync --onlyvisible --limit 1 --name '^Audio Settings$' >/dev/null || fail "no Audio Settings dialog"
  # Wine may make the dialog's X window more than once while it shows it: let it settle.
  sleep 0.5
  dlg="$(xdotool search --onlyvisible --limit 1 --name '^Audio Settings$')" || fail "Audio Settings went away"
  if [ "$how" = OK ]; then
    click ok "$(probe dialog "Audio Settings")"
  else
    xdotool windowactivate --sync "$dlg" 2>/dev/null || true
    xdotool key --clearmodifiers "$how"
  fi
  for _ in $(seq 50); do
    xdotool search --onlyvisible --name '^Audio Settings$' >/dev/null 2>&1 || break
    sleep 0.1
  done
  xdotool search --onlyvisible --name '^Audio Settings$' >/dev/null 2>&1 && fail "Audio Settings still open after $how"
  echo "Audio Settings: opened from the control window, closed with $how"
}

# The camera button writes 00000.png (256 x 384, the picture: not white) to the
# Desktop known folder; then Audio Settings is opened and cancelled with Escape.
camera_and_cancel() {
  click camera "$1"
  local desktop png=""
  desktop="$(find -L "$WINEPREFIX/drive_c/users" -mindepth 2 -maxdepth 2 -name Desktop ! -path '*/Public/*' | head -1)"
  for _ in $(seq 100); do
    [ -s "$desktop/00000.png" ] && png="$desktop/00000.png" && break
    sleep 0.1
  done
  [ -n "$png" ] || fail "no 00000.png in $desktop 10 s after the camera click"
  local size mean
  size="$(identify -format '%wx%h' "$png")"
  mean="$(convert "$png" -format '%[fx:int(mean*1000)]' info:)"
  echo "screenshot: $png, $size, mean level $mean/1000"
  [ "$size" = "256x384" ] || fail "00000.png is $size, not 256x384"
  [ "$mean" -lt 990 ] || fail "00000.png is white"
  audio_dialog "$1" Escape
}
ok_audio() { audio_dialog "$1" OK; }

run_and_close tavrin-capture-demo.exe "Connected" picture camera_and_cancel

roaming="$(find "$WINEPREFIX/drive_c/users" -maxdepth 4 -type d -path '*/AppData/Roaming' | head -1)"
cfg="$roaming/Tavrin Capture/tavrin_capture.cfg"
[ -f "$cfg" ] || fail "no $cfg"
size="$(stat -c %s "$cfg")"
[ "$size" -eq 1352 ] || fail "tavrin_capture.cfg is $size bytes, not 1352"
# The record's first word: 0x0548040A, little-endian.
[ "$(od -An -tx1 -N4 "$cfg" | tr -d ' ')" = "0a044805" ] || fail "tavrin_capture.cfg: magic"
echo "settings: $cfg, $size bytes"
[ -f "$roaming/Tavrin Capture/options.conf" ] || fail "no options.conf beside it"
# Cancelled: the audio source stays as it was (none); OK then stores the first item: the
# default capture endpoint where the build records (Wine's one endpoint is "PulseAudio"),
# else "(no sound)".
first_item="(no sound)"
[ ! -f "$build/tests/platform/win32/tavrin_win32_record.exe" ] || first_item="PulseAudio"
cfg_has "$cfg" "$first_item" && fail "Audio Settings cancelled, yet the audio source was stored"
run_and_close tavrin-capture-demo.exe "Connected" "" ok_audio
cfg_has "$cfg" "$first_item" || fail "Audio Settings closed with OK did not store the audio source"
echo "settings: Audio Settings cancelled stored nothing, OK stored \"$first_item\""

# The registry is written back to user.reg when the server ends.
"$wineserver" -w
reg="$(sed -n '/^\[Software\\\\TavrinCapture\]/,/^$/p' "$WINEPREFIX/user.reg")"
[ -n "$reg" ] || fail "no [Software\\\\TavrinCapture] in user.reg"
echo "$reg"
grep -q '^"DisableUpdateCheck"=dword:00000000$' <<<"$reg" || fail "DisableUpdateCheck is not dword 0"
grep -q '^"LastChecked"=dword:[0-9a-f]\{8\}$' <<<"$reg" || fail "LastChecked is not a dword"

"$wineserver" -p 2>/dev/null || true
run_and_close tavrin-capture.exe "Not connected"
bash "$(dirname "$0")/win32-picture-window-test.sh" "$build"
echo "Windows program tests passed"

timeout 120 "$wine64" "$build/tests/platform/win32/tavrin_win32_tests.exe" --gtest_brief=1 </dev/null
