#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The Windows programs as a user meets them, under wine64 on an X server with a window
# manager (run inside scripts/test-env.sh): in a fresh Wine prefix the demonstration
# shows its control window "Tavrin Capture" reading the simulated board's state and a
# picture window "Tavrin Capture - Single" whose picture moves, a close of the control
# window ends it with exit code 0, and the settings file and the update
# check's registry values are where Windows keeps them; the program without a board
# reads "Not connected"; a board asking for firmware gets the Firmware Update dialog,
# and with a container the update brings it back. Then the Win32 front end's own tests, in the same prefix.
#   win32-program-test.sh BUILD_DIR   (the core's build folder of ci-windows.sh)
set -euo pipefail
build="$(cd "$1" && pwd)"
work="$build/program-test"
# shellcheck source=scripts/wine-env.sh
. "$(dirname "$0")/wine-env.sh"

# A prefix made with the HOME the programs run with, as a user's would be.
rm -rf "$work"
mkdir -p "$work/home"
export HOME="$work/home"
trap '"$wineserver" -k 2>/dev/null || true' EXIT
wine_prefix "$work/prefix"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
probe() { "$wine64" "$build/tests/platform/win32/tavrin_win32_probe.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
# probe_until REGEX TRIES: asks the control window until what it says matches (printed
# on one line), at most TRIES times a tenth of a second apart; the last answer otherwise.
probe_until() {
  local said=""
  for _ in $(seq "$2"); do
    said="$(probe 2 | tr '\n' ' ')"
    grep -q "$1" <<<"$said" && break
    sleep 0.1
  done
  echo "$said"
  grep -q "$1" <<<"$said"
}

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
    pic="$(wait_window '^Tavrin Capture - Single$')" || fail "$exe: no picture window"
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
  # Polled with a limit (xdotool's --sync can wait for ever on a window Wine remade); a
  # click that came before the window took clicks is given again.
  if ! WAIT_TENTHS=100 wait_window '^Audio Settings$' >/dev/null; then
    click audio "$(probe 5)"
    wait_window '^Audio Settings$' >/dev/null || fail "no Audio Settings dialog"
  fi
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

# The layout list's items in turn, chosen as a user does (the list opened with a click,
# the item taken with Home and the arrow keys): each shows its windows at their sizes.
shown_windows() { # TITLE SIZE: the window appears within 10 s with that client size
  local id="" WINDOW X Y WIDTH HEIGHT SCREEN
  for _ in $(seq 100); do
    id="$(xdotool search --onlyvisible --limit 1 --name "^$1\$" 2>/dev/null)" && break
    sleep 0.1
  done
  [ -n "$id" ] || fail "layout list: no window \"$1\""
  for _ in $(seq 50); do
    eval "$(xdotool getwindowgeometry --shell "$id")"
    [ "${WIDTH}x${HEIGHT}" = "$2" ] && break
    sleep 0.1
  done
  [ "${WIDTH}x${HEIGHT}" = "$2" ] || fail "layout list: \"$1\" is ${WIDTH}x${HEIGHT}, not $2"
}
wait_window() { # TITLE-REGEX: prints the window's id within 30 s, or WAIT_TENTHS tenths (Wine may remake its X window meanwhile)
  local id
  for _ in $(seq "${WAIT_TENTHS:-300}"); do
    id="$(xdotool search --onlyvisible --limit 1 --name "$1" 2>/dev/null)" && [ -n "$id" ] && echo "$id" && return 0
    sleep 0.1
  done
  return 1
}
gone() { # TITLE: no such window within 5 s
  for _ in $(seq 50); do
    xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  fail "layout list: \"$1\" still shown"
}
choose_layout() { # ITEM KEYS...: opens the list, presses the keys and Return; the list then reads ITEM
  local item="$1" shown
  shift
  # A loaded machine's Wine may open the list after the keys came: then again, from the top.
  for try in 1 2 3; do
    click list "$(probe 5)"
    sleep $((try))
    xdotool key --clearmodifiers "$@" Return
    # The probe's question is answered before keys still waiting in the program's
    # queue, so a busy program is asked again for a while.
    shown="$(probe_until "layout=$item " 30)" && return 0
    [ "$try" = 3 ] || { xdotool key --clearmodifiers Escape; sleep 0.5; }
  done
  fail "layout list: not $item: $shown"
}
layouts() {
  ok_audio "$1"
  choose_layout "Split window" Home Down
  shown_windows "Tavrin Capture - Top" 256x192
  shown_windows "Tavrin Capture - Bottom" 256x192
  gone "Tavrin Capture - Single"
  echo "layout list: Split window: Top 256x192 and Bottom 256x192"
  choose_layout "Pellan" Home Down Down
  shown_windows "Pellan Capture" 240x160
  gone "Tavrin Capture - Top"
  gone "Tavrin Capture - Bottom"
  echo "layout list: Pellan: one window 240x160"
  choose_layout "Single window" Home
  shown_windows "Tavrin Capture - Single" 256x384
  gone "Pellan Capture"
  echo "layout list: Single window: one window 256x384"
  choose_folder "$1"
  [ ! -f "$build/tests/platform/win32/tavrin_win32_record.exe" ] || record_briefly "$1"
}

# Where the build records: the record button starts a recording into the chosen folder
# (through the Video Codec dialog when no compressor is chosen yet), its status line
# counts, a second click stops it, and the file has picture and sound.
record_briefly() {
  local shots="$WINEPREFIX/drive_c/shots" status="" avi=""
  click record "$1"
  sleep 2
  if xdotool search --onlyvisible --name '^Video Codec$' >/dev/null 2>&1; then
    click ok "$(probe dialog "Video Codec")"
  fi
  status="$(probe_until "FPS" 150)" || fail "record: the status line never counted: $status"
  sleep 3
  click record "$(probe 5)"
  status="$(probe_until "Stopped\." 100)" || fail "record: not stopped: $status"
  avi="$(find "$shots" -name '*.avi' | head -1)"
  [ -n "$avi" ] || fail "record: no .avi in C:\\shots"
  local streams lengths
  streams="$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 "$avi" | sort | paste -sd,)"
  [ "$streams" = "audio,video" ] || fail "record: streams are \"$streams\", not audio and video"
  # The picture's length (frames at 30 a second) and the sound's (samples at 48 kHz),
  # counted by decoding both to the end: within a frame of each other (and the few
  # samples by which a stop falls between two frames).
  lengths="$(ffprobe -v error -count_frames -show_entries stream=codec_type,nb_read_frames,nb_frames,sample_rate \
    -of csv=p=0 "$avi" | python3 -c '
import sys
video = audio = None
for line in sys.stdin:
    f = line.strip().split(",")
    if f[0] == "video": video = int(f[2]) / 30
    if f[0] == "audio": audio = int(f[2]) / int(f[1])
print("%.4f %.4f" % (video, audio))')"
  echo "record: $(basename "$avi"): picture and sound of $lengths s"
  python3 -c 'import sys; v, a = map(float, sys.argv[1:3]); sys.exit(0 if v >= 2.5 and abs(v - a) <= 1 / 30 + 0.002 else 1)' \
    $lengths || fail "record: picture and sound of $lengths s"
}

# "..." opens the folder picker: Escape keeps the folder; a folder typed in and taken
# with Return is where the camera button's next picture goes.
choose_folder() {
  local shots="$WINEPREFIX/drive_c/shots" png=""
  mkdir -p "$shots"
  click folder "$1"
  wait_window '^Change Output Folder$' >/dev/null || fail "no folder picker"
  sleep 0.5
  xdotool key --clearmodifiers Escape
  gone "Change Output Folder"
  local desktop before
  desktop="$(find -L "$WINEPREFIX/drive_c/users" -mindepth 2 -maxdepth 2 -name Desktop ! -path '*/Public/*' | head -1)"
  before="$(find -L "$desktop" -maxdepth 1 -name '0*.png' | wc -l)"
  click camera "$1"
  for _ in $(seq 100); do
    [ "$(find -L "$desktop" -maxdepth 1 -name '0*.png' | wc -l)" -gt "$before" ] && break
    sleep 0.1
  done
  [ "$(find -L "$desktop" -maxdepth 1 -name '0*.png' | wc -l)" -gt "$before" ] || fail "after Escape in the folder picker the picture did not go to the Desktop: $(probe 2 | grep status=); $(ls "$desktop")"
  click folder "$1"
  wait_window '^Change Output Folder$' >/dev/null || fail "no folder picker the second time"
  sleep 0.5
  xdotool type --delay 30 'C:\shots'
  xdotool key --clearmodifiers Return
  gone "Change Output Folder"
  click camera "$1"
  for _ in $(seq 100); do
    png="$(find "$shots" -name '0*.png' | head -1)"
    [ -n "$png" ] && [ -s "$png" ] && break
    sleep 0.1
  done
  [ -n "$png" ] || fail "no picture in C:\\shots after choosing it and a camera click"
  echo "folder picker: Escape kept the Desktop; C:\\shots chosen, the camera wrote $(basename "$png") there ($(identify -format '%wx%h' "$png"))"
}

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
run_and_close tavrin-capture-demo.exe "Connected" "" layouts
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

# A board that asks for firmware: the Firmware Update dialog comes first, and Cancel
# ends the program (exit code 0). This build carries no firmware container, so Start
# fails with "Error (N)", and the dialog stays for a retry (the container's own path is
# tried by tavrin_win32_tests.exe, which carries a synthetic one).
fw_wait_end() { # PID WHAT
  for _ in $(seq 100); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$1" 2>/dev/null && fail "$2: the program still runs 10 s later"
  wait "$1" || fail "$2: exit code $?"
}
fw_start() { # [PROGRAM]
  "$wine64" "${1:-$build/src/main/win32/tavrin-capture-demo.exe}" --needs-firmware </dev/null >"$work/firmware.out" 2>&1 &
  fw_pid=$!
  wait_window '^Firmware Update$' >/dev/null || fail "no Firmware Update dialog"
  sleep 0.5
  fw_at="$(probe dialog "Firmware Update")" || fail "Firmware Update: $fw_at"
}
fw_start
click cancel "$fw_at"
fw_wait_end "$fw_pid" "Firmware Update cancelled"
echo "Firmware Update: Cancel ends the program with exit code 0"
fw_start
click ok "$fw_at"
error="$(wait_window '^Error \([0-9-]*\)$')" || fail "Start: no error box"
echo "Firmware Update: Start without a container: \"$(xdotool getwindowname "$error")\"; $(grep -m1 'Resource load failed' "$work/firmware.out" | tr -d '\r')"
grep -q 'Resource load failed' "$work/firmware.out" || fail "Start: no \"Resource load failed\" diagnostic"
xdotool windowactivate --sync "$error" 2>/dev/null || true
xdotool key --clearmodifiers Return
sleep 0.5
xdotool search --onlyvisible --name '^Firmware Update$' >/dev/null || fail "the dialog closed after a failed update"
click cancel "$(probe dialog "Firmware Update")"
fw_wait_end "$fw_pid" "Firmware Update cancelled after a failure"
echo "Firmware Update: after the failure the dialog stayed; Cancel ended the program with exit code 0"
# With a container (the tests' synthetic one) Start writes it; the dialog closes, the
# board leaves the bus and comes back as an arrival, and the program opens it.
with_container="$build/tests/platform/win32/tavrin-capture-demo-test-firmware.exe"
[ -f "$with_container" ] || fail "$with_container was not built (it needs Wine at build time)"
fw_start "$with_container"
click ok "$fw_at"
said="$(probe_until 'status=Connected' 150)" || fail "after the update the control window says: $said"
xdotool search --onlyvisible --name '^Firmware Update$' >/dev/null && fail "the dialog stayed after the update"
click statusline "$(probe 2)"
sleep 0.3
xdotool key --clearmodifiers alt+F4
fw_wait_end "$fw_pid" "closing after the update"
# (the program's diagnostics reach the file when it ends)
grep -q 'fwVer=4' "$work/firmware.out" || fail "the board did not come back with the new firmware: $(tr -d '\r' <"$work/firmware.out" | grep -v ':fixme:' | tail -n 5)"
echo "Firmware Update: Start with a container wrote it; the board came back (version 4), \"Connected\"; closed with exit code 0"
bash "$(dirname "$0")/win32-picture-window-test.sh" "$build"
echo "Windows program tests passed"

# The picture window test ended its Wine server: a new one, with the prefix's own
# services started first, serves the tests (started by the first test's windows, they
# raced with its dialogs on a loaded machine).
"$wineserver" -w 2>/dev/null || true
wine_prefix "$WINEPREFIX" persistent
timeout 120 "$wine64" "$build/tests/platform/win32/tavrin_win32_tests.exe" --gtest_brief=1 </dev/null
