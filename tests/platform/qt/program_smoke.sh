#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Starts the demonstration program, asks it to close as a terminal's Ctrl+C would,
# and checks that it ended the ordinary way: exit code 0 and the settings saved.
# With "firmware": on a board that asks for an update, SIGTERM while the
# "Firmware Update" dialog is open, before the main loop has started.
# With "close-window": the compositor (sway) closes the control window instead.
set -u
program="$1"
args=(); signal=INT; opened="Tavrin open"
[ "${2:-}" = firmware ] && { args=(--needs-firmware); signal=TERM; opened="fwVer=1"; }
# The picture windows draw with OpenGL, which needs a display (scripts/test-env.sh).
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "no display: run under scripts/test-env.sh"; exit 77
fi
if [ "${2:-}" = close-window ] && [ -z "${SWAYSOCK:-}" ]; then
  echo "no sway to close the window: run under TAVRIN_WM=sway scripts/test-env.sh"; exit 77
fi
config="$(mktemp -d)"
trap 'rm -rf "$config"' EXIT
XDG_CONFIG_HOME="$config" QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-xcb}" "$program" "${args[@]}" >"$config/out.txt" 2>&1 &
pid=$!
sleep 3
if [ "${2:-}" = close-window ]; then
  swaymsg '[title="^Tavrin Capture$"] kill' >/dev/null || { echo "no control window to close"; kill -9 "$pid"; exit 1; }
else
  kill -"$signal" "$pid"
fi
for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then
  echo "the program did not close within 10 s"; kill -9 "$pid"; exit 1
fi
wait "$pid"; code=$?
cat "$config/out.txt"
[ "$code" = 0 ] || { echo "exit code $code"; exit 1; }
grep -q "$opened" "$config/out.txt" || { echo "the simulated board was not opened"; exit 1; }
size=$(stat -c %s "$config/Tavrin Capture/tavrin_capture.cfg" 2>/dev/null || echo 0)
[ "$size" -ge 1352 ] || { echo "settings were not saved"; exit 1; }
echo "closed cleanly, settings saved ($size bytes)"
