#!/usr/bin/env bash
# Installs what is needed, builds and starts Tavrin Capture.
#   scripts/run.sh          the program, on a board plugged into this computer
#   scripts/run.sh demo     the same program on the simulated board's moving picture
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
program=tavrin-capture
case "${1:-}" in
  "") ;;
  demo) program=tavrin-capture-demo ;;
  *) echo "usage: $0 [demo]" >&2; exit 2 ;;
esac

# A virtual X server is installed only where it is needed.
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  bash "$root/scripts/install-deps.sh" run
else
  bash "$root/scripts/install-deps.sh" headless
fi
cmake -S "$root" -B "$root/build" -G Ninja >/dev/null
cmake --build "$root/build" --target "$program" -j "$(nproc)"
binary="$root/build/src/main/$program"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$binary"
fi

# No display: a virtual X server of our own, in a session of its own so that Ctrl+C
# reaches only the program, which then closes the ordinary way before the server goes.
for n in $(seq 90 140); do
  [ -e "/tmp/.X${n}-lock" ] || [ -e "/tmp/.X11-unix/X${n}" ] || break
done
echo "No display found (DISPLAY and WAYLAND_DISPLAY are not set): running $program under Xvfb on :$n," \
     "a virtual screen nobody can see. Stop it with Ctrl+C." >&2
setsid Xvfb ":$n" -screen 0 1920x1080x24 +extension GLX -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
trap ':' INT TERM
for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X${n}" ] && break; sleep 0.1; done
status=0
DISPLAY=":$n" "$binary" || status=$?
exit "$status"
