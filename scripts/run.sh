#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs what is needed, builds and starts Tavrin Capture.
#   scripts/run.sh          the program, on a board plugged into this computer
#   scripts/run.sh demo     the same program on the simulated board's moving picture
#   scripts/run.sh emulated [FAULTS]
#                           the program itself, through libusb, on a board emulated on a faked
#                           USB bus (tavrin-usb-emulator; FAULTS as its --faults, e.g. firmware)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
program=tavrin-capture
emulated=""
case "${1:-}" in
  "") ;;
  demo) program=tavrin-capture-demo ;;
  emulated) emulated=1 ;;
  *) echo "usage: $0 [demo | emulated [FAULTS]]" >&2; exit 2 ;;
esac

# A virtual X server is installed only where it is needed.
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  bash "$root/scripts/install-deps.sh" run
else
  bash "$root/scripts/install-deps.sh" headless
fi
cmake -S "$root" -B "$root/build" -G Ninja >/dev/null
if [ -z "$emulated" ]; then
  cmake --build "$root/build" --target "$program" -j "$(nproc)"
  command=("$root/build/src/main/$program")
else
  # A build of its own that carries a synthetic firmware image, so that a board asking
  # for firmware gets an update over real control transfers. Never used with a real board.
  cmake --build "$root/build" --target tavrin-test-firmware -j "$(nproc)"
  mkdir -p "$root/build-emulated"
  "$root/build/tools/tavrin-test-firmware" "$root/build-emulated/test-firmware.zlib"
  cmake -S "$root" -B "$root/build-emulated" -G Ninja -DTAVRIN_FIRMWARE_IMAGE="$root/build-emulated/test-firmware.zlib" \
    -DTAVRIN_BUILD_TESTS=OFF -DBUILD_TESTING=OFF -DTAVRIN_BUILD_BENCH=OFF >/dev/null
  cmake --build "$root/build-emulated" --target tavrin-capture tavrin-usb-emulator -j "$(nproc)"
  control="$root/build-emulated/usb-control"
  echo "Emulated board: unplug it with 'echo unplug > $control', plug it back with 'echo replug > $control'" \
       "(also: firmware, noperm, short, empty, stall; see tools/usb_emulator/main.cpp)." >&2
  command=("$root/build-emulated/tools/tavrin-usb-emulator" --control "$control" --faults "${2:-}" --
           "$root/build-emulated/src/main/tavrin-capture")
fi

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "${command[@]}"
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
DISPLAY=":$n" "${command[@]}" || status=$?
exit "$status"
