#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The demonstration's picture window under Wine, from outside (run by
# win32-program-test.sh, in its prefix and on its X server): the picture is the
# simulated board's, converted by the program, pixel for pixel at 1x and, with point
# scaling (F4), at 2x; a menu command turns the picture, keeping its scale; Alt+Enter
# fills the screen and Esc brings the window back; without Direct3D, GDI draws the same
# picture. Then, with windows Wine frames itself (so that the program runs the sizing
# loop), a drag of the corner ends on the sizing rule and a drag of the picture moves
# the window.
#   win32-picture-window-test.sh BUILD_DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
work="$build/program-test"
# shellcheck source=scripts/wine-env.sh
. "$(dirname "$0")/wine-env.sh"
check_exe="$build/tests/platform/win32/tavrin_win32_picture_check.exe"

fail() {
  echo "FAIL: picture window: $*" >&2
  exit 1
}
geometry() { # WINDOW -> "WIDTHxHEIGHT+X+Y"
  local WINDOW X Y WIDTH HEIGHT SCREEN
  eval "$(xdotool getwindowgeometry --shell "$1")"
  echo "${WIDTH}x${HEIGHT}+${X}+${Y}"
}
size_of() { local g; g="$(geometry "$1")"; echo "${g%%+*}"; }
wait_size() { # WINDOW SIZE: within 10 s (a loaded machine's Wine can be slow to answer)
  for _ in $(seq 100); do
    [ "$(size_of "$1")" = "$2" ] && return 0
    sleep 0.1
  done
  return 1
}
# Which board picture the window shows at SCALE; empty when none matches exactly.
shown_picture() {
  local name="$2"
  import -window "$1" "$work/$name.png"
  convert "$work/$name.png" "$work/$name.ppm"
  "$wine64" "$check_exe" "$work/$name.ppm" "$3" </dev/null 2>/dev/null | tr -d '\r' || true
}
exact() { # WINDOW NAME SCALE: a few tries, for a frame that arrives as the screen is read
  local seen
  for _ in 1 2 3; do
    seen="$(shown_picture "$@")"
    case "$seen" in picture*) echo "$seen"; return 0 ;; esac
    sleep 0.3
  done
  echo "$seen"
  return 1
}
start_demo() {
  "$wine64" "$build/src/main/win32/tavrin-capture-demo.exe" </dev/null >"$work/picture-window.out" 2>&1 &
  demo=$!
  # Polled rather than --sync: Wine may remake an X window while xdotool waits on it.
  pic=""
  for _ in $(seq 300); do
    pic="$(xdotool search --onlyvisible --limit 1 --name '^Tavrin Capture - Single$' 2>/dev/null)" && [ -n "$pic" ] && break
    sleep 0.1
  done
  [ -n "$pic" ] || fail "no window"
  sleep 1
}
close_demo() {
  local id sent=""
  # Tries for up to 10 s: Wine may remake the control window's X window between the look
  # and the key, and a loaded machine's Wine may take seconds over it.
  for _ in $(seq 30); do
    id="$(xdotool search --onlyvisible --limit 1 --name '^Tavrin Capture$' 2>/dev/null)" || { sleep 0.3; continue; }
    xdotool windowactivate --sync "$id" 2>/dev/null || xdotool windowfocus --sync "$id" 2>/dev/null || true
    xdotool key --clearmodifiers --window "$id" alt+F4 2>/dev/null && sent=1 && break
    sleep 0.3
  done
  [ -n "$sent" ] || { import -window root "$work/close-failed.png" 2>/dev/null; fail "no control window to close (the screen: $work/close-failed.png)"; }
  for _ in $(seq 100); do
    kill -0 "$demo" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$demo" 2>/dev/null && fail "still running 10 s after the close"
  wait "$demo" || fail "exit code $?"
}

start_demo
# Wine draws Direct3D through OpenGL into a child X window of the window's own.
children="$(xwininfo -children -id "$pic" 2>/dev/null | sed -n 's/^ *\([0-9]*\) child.*/\1/p')"
echo "picture window: ${children:-0} child X window(s) (1: Direct3D through Wine's OpenGL, 0: GDI)"
grep -i "direct3d" "$work/picture-window.out" | tr -d '\r' || true
[ "${children:-0}" -ge 1 ] || fail "Direct3D did not start (Wine's Direct3D runs on Mesa here)"
wait_size "$pic" 256x384 || fail "client area $(size_of "$pic"), not 256x384"
seen="$(exact "$pic" one 1)" || fail "1x: $seen"
echo "picture window: 1x, bilinear: $seen"
xdotool windowsize "$pic" 512 768
wait_size "$pic" 512x768 || fail "not resized to 512x768: $(size_of "$pic")"
# Filtered, the picture differs from whole blocks only along its edges (about one pixel
# in nine); far more means the window has not drawn at its new size yet.
for _ in $(seq 10); do
  sleep 0.5
  seen="$(shown_picture "$pic" two-bilinear 2)"
  differing="$(sed -n 's/.*at best \([0-9]*\) pixels differ.*/\1/p' <<<"$seen")"
  [ -n "$differing" ] && [ "$differing" -lt 196608 ] && break
done
case "$seen" in picture*) fail "2x, bilinear: exact blocks ($seen): no filtering" ;; esac
[ -n "$differing" ] && [ "$differing" -lt 196608 ] || fail "2x, bilinear: $seen"
echo "picture window: 2x, bilinear: $seen"
xdotool windowactivate --sync "$pic" 2>/dev/null || xdotool windowfocus --sync "$pic"
xdotool key --clearmodifiers F4
sleep 0.5
seen="$(exact "$pic" two-point 2)" || fail "2x after F4 (point scaling): $seen"
echo "picture window: 2x after F4, point: $seen"

# Menu: Rotation (the seventh entry) > 90 degrees: turned, at the same scale.
xdotool mousemove --window "$pic" 200 200 click 3
sleep 0.5
xdotool key Down Down Down Down Down Down Down Right Down Return
wait_size "$pic" 768x512 || fail "menu Rotation > 90: $(size_of "$pic"), not 768x512"
echo "picture window: menu Rotation > 90: 768x512"
xdotool mousemove --window "$pic" 200 200 click 3
sleep 0.5
xdotool key Down Down Down Down Down Down Down Right Return
wait_size "$pic" 512x768 || fail "menu Rotation > 0: $(size_of "$pic"), not 512x768"

xdotool windowactivate --sync "$pic" 2>/dev/null || xdotool windowfocus --sync "$pic"
xdotool key --clearmodifiers alt+Return
wait_size "$pic" 1920x1080 || fail "Alt+Enter: $(size_of "$pic"), not the screen's 1920x1080"
echo "picture window: Alt+Enter: 1920x1080"
xdotool key --clearmodifiers Escape
wait_size "$pic" 512x768 || fail "Esc: $(size_of "$pic"), not back to 512x768"
echo "picture window: Esc: 512x768"
close_demo

# Without Direct3D (d3d9.dll switched off) the program draws with GDI, says so, and the
# picture is as exact as before.
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;d3d9=" start_demo
children="$(xwininfo -children -id "$pic" 2>/dev/null | sed -n 's/^ *\([0-9]*\) child.*/\1/p')"
gdi="$(grep -i "drawing with GDI" "$work/picture-window.out" | tr -d '\r' | head -1)"
echo "picture window without d3d9.dll: ${children:-0} child X window(s); $gdi"
[ -n "$gdi" ] || fail "no diagnostic line about drawing with GDI"
wait_size "$pic" 512x768 || fail "GDI: client area $(size_of "$pic"), not 512x768"
xdotool windowactivate --sync "$pic" 2>/dev/null || xdotool windowfocus --sync "$pic"
seen="$(exact "$pic" gdi-two 2)" || fail "GDI, 2x point: $seen"
echo "picture window: GDI, 2x, point: $seen"
xdotool windowsize "$pic" 256 384
wait_size "$pic" 256x384 || fail "GDI: not resized to 256x384: $(size_of "$pic")"
seen="$(exact "$pic" gdi-one 1)" || fail "GDI, 1x: $seen"
echo "picture window: GDI, 1x: $seen"
close_demo

# Windows that Wine frames itself, from 1x: the program's own sizing loop.
"$wine64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
roaming="$(find "$WINEPREFIX/drive_c/users" -maxdepth 4 -type d -path '*/AppData/Roaming' | head -1)"
rm -f "$roaming/Tavrin Capture/tavrin_capture.cfg"
start_demo
# drag_corner DX DY SIZE: the bottom right corner dragged by DX x DY in five steps, from
# 1x; the title shows the client SIZE while dragging, the window ends that much larger
# than 256 x 384 (Wine's frame is part of the X window), the title comes back.
drag_corner() {
  local before w0 h0 x0 y0 step title=""
  before="$(geometry "$pic")"
  IFS='x+' read -r w0 h0 x0 y0 <<<"$before"
  xdotool mousemove $((x0 + w0 - 2)) $((y0 + h0 - 2)) mousedown 1
  for step in 1 2 3 4 5; do
    xdotool mousemove $((x0 + w0 - 2 + step * $1 / 5)) $((y0 + h0 - 2 + step * $2 / 5))
    sleep 0.1
  done
  # The sizing loop may be a few steps behind the pointer.
  for _ in $(seq 30); do
    title="$(xdotool getwindowname "$pic")"
    [ "$title" = "${3/x/ x }" ] && break
    sleep 0.1
  done
  xdotool mouseup 1
  sleep 0.5
  IFS='x+' read -r w1 h1 x1 y1 <<<"$(geometry "$pic")"
  echo "picture window: corner dragged by $1 x $2 from $before: $((w1 - w0)) x $((h1 - h0)) larger, title \"$title\" while dragging"
  [ "$((w1 - w0 + 256))x$((h1 - h0 + 384))" = "$3" ] || fail "the drag did not end on $3"
  [ "$title" = "${3/x/ x }" ] || fail "title while sizing: \"$title\""
  for _ in $(seq 30); do
    [ "$(xdotool getwindowname "$pic")" = "Tavrin Capture - Single" ] && break
    sleep 0.1
  done
  [ "$(xdotool getwindowname "$pic")" = "Tavrin Capture - Single" ] || fail "title not back after sizing"
}
# From 256 x 384 by 250 x 380: a client area of 506 x 764 snaps to 512 x 768.
drag_corner 250 380 512x768
# The picture dragged by 40 x 30: the window follows.
xdotool mousemove $((x1 + w1 / 2)) $((y1 + h1 / 2)) mousedown 1
for step in 1 2 3 4; do
  xdotool mousemove $((x1 + w1 / 2 + step * 10)) $((y1 + h1 / 2 + step * 15 / 2))
  sleep 0.1
done
xdotool mouseup 1
sleep 0.5
IFS='x+' read -r w2 h2 x2 y2 <<<"$(geometry "$pic")"
echo "picture window: picture dragged by 40 x 30: moved by $((x2 - x1)) x $((y2 - y1))"
[ "$((x2 - x1))x$((y2 - y1))" = "40x30" ] && [ "${w2}x${h2}" = "${w1}x${h1}" ] || fail "the drag did not move the window"
# With integer scaling (options.conf), from 1x by 180 x 270: 436 x 654 is nearest 2x.
# (Keys reach no window Wine frames itself here; the close was checked above.)
"$wineserver" -k 2>/dev/null || true
wait "$demo" 2>/dev/null || true
sed -i 's/^integer_scale=0/integer_scale=1/' "$roaming/Tavrin Capture/options.conf"
grep -q '^integer_scale=1' "$roaming/Tavrin Capture/options.conf" || fail "options.conf: no integer_scale to turn on"
rm -f "$roaming/Tavrin Capture/tavrin_capture.cfg"
"$wine64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
start_demo
drag_corner 180 270 512x768
"$wine64" reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f </dev/null >/dev/null 2>&1
"$wineserver" -k 2>/dev/null || true
wait "$demo" 2>/dev/null || true
echo "picture window tests passed"
