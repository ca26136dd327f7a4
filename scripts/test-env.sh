#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs a command with what the tests need around it: an X server (Xvfb) with a
# window manager on it, a PulseAudio daemon with a null sink whose monitor is a
# real capture source, and a PipeWire daemon with WirePlumber when they are
# installed (PIPEWIRE_RUNTIME_DIR). Everything started here is stopped again when
# the command ends.
#   TAVRIN_WM=openbox (default) | xfwm4 | none   the window manager on the X server
set -uo pipefail

workdir="$(mktemp -d /tmp/tavrin-env.XXXXXX)"
pids=()
here="$(cd "$(dirname "$0")" && pwd)"
cleanup() {
  if [ -n "${PIPEWIRE_STARTED:-}" ]; then
    bash "$here/pipewire-session.sh" stop "$workdir/pipewire"
  fi
  if [ -n "${PULSE_PID_STARTED:-}" ]; then
    pulseaudio --kill >/dev/null 2>&1 || true
  fi
  for p in "${pids[@]}"; do kill "$p" >/dev/null 2>&1 || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$workdir"
}
trap cleanup EXIT

# X server: a free display number, 24-bit colour, GLX through Mesa.
if [ -z "${DISPLAY:-}" ] || [ "${TAVRIN_OWN_X:-1}" = 1 ]; then
  for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X${n}-lock" ] && [ ! -e "/tmp/.X11-unix/X${n}" ]; then
      Xvfb ":${n}" -screen 0 1920x1080x24 +extension GLX -nolisten tcp -noreset >"$workdir/xvfb.log" 2>&1 &
      pids+=($!)
      export DISPLAY=":${n}"
      for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X${n}" ] && break; sleep 0.1; done
      own_x=1
      break
    fi
  done
fi

# A window manager, as on a desktop: it frames, places and sizes the windows.
wm="${TAVRIN_WM:-openbox}"
if [ "${own_x:-0}" = 1 ] && [ "$wm" != none ]; then
  case "$wm" in
    openbox) wm_cmd=(openbox --sm-disable) ;;
    xfwm4)
      # xfwm4 reads its settings over D-Bus and exits without a session bus: one of
      # our own, stopped with the rest (no accessibility bus behind it).
      dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$workdir/bus" &
      pids+=($!)
      for _ in $(seq 1 50); do [ -s "$workdir/bus" ] && break; sleep 0.1; done
      wm_cmd=(env DBUS_SESSION_BUS_ADDRESS="$(head -n 1 "$workdir/bus")" NO_AT_BRIDGE=1
              xfwm4 --compositor=off --sm-client-disable) ;;
    *) echo "test-env: unknown TAVRIN_WM=$wm" >&2; exit 2 ;;
  esac
  if command -v "$wm" >/dev/null 2>&1; then
    "${wm_cmd[@]}" >"$workdir/wm.log" 2>&1 &
    pids+=($!)
    # Ready once it announces itself on the root window.
    for _ in $(seq 1 100); do
      xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
      sleep 0.1
    done
  else
    echo "test-env: $wm is not installed; running without a window manager" >&2
  fi
fi

# Sound server of our own, in a private runtime folder.
export XDG_RUNTIME_DIR="$workdir/runtime"
export HOME="${HOME:-$workdir}"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export PULSE_RUNTIME_PATH="$XDG_RUNTIME_DIR/pulse"
if command -v pulseaudio >/dev/null 2>&1; then
  pulseaudio -D --system=false --exit-idle-time=-1 -n --disallow-exit \
    --load="module-null-sink sink_name=tavrin_null sink_properties=device.description=Tavrin_Test_Sink" \
    --load=module-native-protocol-unix >"$workdir/pulse.log" 2>&1 && PULSE_PID_STARTED=1
  for _ in $(seq 1 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl set-default-sink tavrin_null >/dev/null 2>&1 || true
  pactl set-default-source tavrin_null.monitor >/dev/null 2>&1 || true
fi
# PipeWire for the camera, in a folder of its own (tests may start more daemons).
PIPEWIRE_STARTED=1 # stopping where nothing started is harmless
if bash "$here/pipewire-session.sh" start "$workdir/pipewire"; then
  export PIPEWIRE_RUNTIME_DIR="$workdir/pipewire/run"
fi
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-xcb}"
export LIBGL_ALWAYS_SOFTWARE=1

"$@"
