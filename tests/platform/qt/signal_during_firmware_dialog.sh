#!/usr/bin/env bash
# Starts the demonstration program on a board that asks for new firmware, sends
# SIGTERM while the "Firmware Update" dialog is open, and checks that the program
# ended the ordinary way: the dialog taken as Cancel, exit code 0, settings saved.
set -u
program="$1"
if [ -z "${DISPLAY:-}" ]; then
  echo "no X server: run under scripts/test-env.sh"; exit 77
fi
config="$(mktemp -d)"
trap 'rm -rf "$config"' EXIT
XDG_CONFIG_HOME="$config" QT_QPA_PLATFORM=xcb "$program" --needs-firmware >"$config/out.txt" 2>&1 &
pid=$!

# The dialog is on the screen (xwininfo, when there) or at least due (fwVer=1).
shown=0
for _ in $(seq 1 200); do
  if command -v xwininfo >/dev/null 2>&1; then
    xwininfo -root -tree 2>/dev/null | grep -q '"Firmware Update"' && { shown=1; break; }
  elif grep -q '^fwVer=1' "$config/out.txt"; then
    sleep 2; shown=1; break
  fi
  sleep 0.1
done
[ "$shown" = 1 ] || { echo "the firmware dialog did not appear"; kill -9 "$pid"; cat "$config/out.txt"; exit 1; }

start=$(date +%s%N)
kill -TERM "$pid"
for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
if kill -0 "$pid" 2>/dev/null; then
  echo "the program did not close within 5 s of SIGTERM"; kill -9 "$pid"; cat "$config/out.txt"; exit 1
fi
wait "$pid"; code=$?
echo "closed $(( ($(date +%s%N) - start) / 1000000 )) ms after SIGTERM"
cat "$config/out.txt"
[ "$code" = 0 ] || { echo "exit code $code"; exit 1; }
size=$(stat -c %s "$config/Tavrin Capture/tavrin_capture.cfg" 2>/dev/null || echo 0)
[ "$size" -ge 1352 ] || { echo "settings were not saved"; exit 1; }
echo "closed the ordinary way, settings saved ($size bytes)"
