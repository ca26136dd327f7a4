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

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -G Ninja >/dev/null
cmake --build "$root/build" --target "$program" -j "$(nproc)"
binary="$root/build/src/main/$program"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found (DISPLAY and WAYLAND_DISPLAY are not set): running $program under Xvfb," \
       "a virtual screen nobody can see. Stop it with Ctrl+C." >&2
  exec xvfb-run -a -s "-screen 0 1920x1080x24 +extension GLX" "$binary"
fi
exec "$binary"
