#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# tavrin-capture itself on the board emulated on a faked USB bus: the moving picture
# shows (screenshots taken with the camera button are not white and differ from one
# to the next), an unplug turns the picture white, a replug brings it back through
# libusb's hotplug notice, and the program then closes the ordinary way.
#   program_emulated.sh EMULATOR PROGRAM [no-sound-server]
# With no-sound-server the program finds no sound server (as on a plain headless
# machine): it shows the moving picture, keeps running and closes with exit code 0.
set -u
emulator="$1"
program="$2"
mode="${3:-}"
if [ -z "${DISPLAY:-}" ]; then
  echo "no X server: run under scripts/test-env.sh"; exit 77
fi
for tool in xdotool convert compare; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps.sh)"; exit 77; }
done
work="$(mktemp -d)"
pid=
cleanup() {
  [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/config"
shots="$HOME/Desktop"
mkdir -p "$shots" "$XDG_CONFIG_HOME"
if [ "$mode" = no-sound-server ]; then
  # Nowhere to find one: a server address with nothing behind it, a runtime folder of
  # its own (no socket, no autospawn).
  unset PULSE_RUNTIME_PATH PIPEWIRE_RUNTIME_DIR
  export PULSE_SERVER="unix:$work/no-sound-server" XDG_RUNTIME_DIR="$work/runtime"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  if command -v pactl >/dev/null && pactl info >/dev/null 2>&1; then
    echo "FAILED: a sound server answers"; exit 1
  fi
elif command -v pactl >/dev/null && ! pactl info >/dev/null 2>&1; then
  echo "no sound server: run under scripts/test-env.sh"; exit 77
fi
started=$SECONDS
QT_QPA_PLATFORM=xcb "$emulator" --control "$work/control" -- "$program" >"$work/out.txt" 2>&1 &
pid=$!

fail() { echo "FAILED: $*" >&2; grep -v '^[0-9]*:*$' "$work/out.txt" | tail -40 >&2; exit 1; }
opened() { grep -c "Tavrin open" "$work/out.txt"; }
wait_opened() {
  for _ in $(seq 1 300); do
    [ "$(opened)" -ge "$1" ] && return 0
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"; local code=$?
      pid=
      fail "the program ended with exit code $code after $((SECONDS - started)) s"
    fi
    sleep 0.1
  done
  fail "the board was not opened (time $1)"
}
wait_opened 1
# The control window: the larger of this program's top-level windows named so (other GUI
# tests may run on the same X server).
child=$(pgrep -P "$pid" | head -1)
[ -n "$child" ] || fail "the program is not running"
window=""
for _ in $(seq 1 100); do
  window=$(for w in $(xdotool search --all --pid "$child" --name '^Tavrin Capture$' 2>/dev/null); do
             echo "$(xdotool getwindowgeometry "$w" | awk '/Geometry/ {split($2, g, "x"); print g[1] * g[2]}') $w"
           done | sort -nr | awk '$1 > 100 {print $2; exit}')
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || fail "no control window"

# Presses the camera button and prints the new screenshot's path (numbered names sort in order).
shot() {
  local before file
  before=$(ls "$shots" | wc -l)
  # A window manager may have put the picture window over the control window.
  timeout 5 xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowraise "$window"
  sleep 0.2
  xdotool mousemove --window "$window" 94 35 click 1
  for _ in $(seq 1 100); do
    if [ "$(ls "$shots" | wc -l)" -gt "$before" ]; then
      sleep 0.3 # written whole and renamed into place
      file=$(ls "$shots"/*.png | tail -1)
      echo "$file"
      return 0
    fi
    sleep 0.1
  done
  fail "screenshot $((before + 1)) was not saved"
}
mean() { convert "$1" -format "%[fx:mean]" info:; }
differs() { [ "$(compare -metric AE "$1" "$2" null: 2>&1 | cut -d' ' -f1)" != 0 ]; }
moving_picture() {
  local a b
  a=$(shot) || exit 1
  sleep 1
  b=$(shot) || exit 1
  awk -v m="$(mean "$a")" 'BEGIN { exit !(m < 0.95) }' || fail "$1: $a is white"
  awk -v m="$(mean "$b")" 'BEGIN { exit !(m < 0.95) }' || fail "$1: $b is white"
  differs "$a" "$b" || fail "$1: the picture does not move"
  echo "$1: $(basename "$a") mean $(mean "$a"), $(basename "$b") mean $(mean "$b"), they differ"
}

sleep 1
moving_picture "plugged in"
if [ "$mode" = no-sound-server ]; then
  # Still running well after the start: listing the sound inputs there (a burst of ALSA
  # device opens without a server) ends a program under the emulator within seconds.
  while [ $((SECONDS - started)) -lt 8 ]; do
    kill -0 "$pid" 2>/dev/null || fail "the program ended after $((SECONDS - started)) s"
    sleep 0.5
  done
  moving_picture "after $((SECONDS - started)) s"
else
  echo unplug >"$work/control"
  sleep 1.5
  white=$(shot) || exit 1
  awk -v m="$(mean "$white")" 'BEGIN { exit !(m > 0.99) }' || fail "unplugged: $white is not white"
  echo "unplugged: $(basename "$white") mean $(mean "$white")"
  echo replug >"$work/control"
  wait_opened 2
  sleep 1
  moving_picture "plugged in again"
fi

kill -TERM "$pid"
for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
wait "$pid"; code=$?
pid=
[ "$code" = 0 ] || fail "exit code $code"
echo "the program closed with exit code 0"
