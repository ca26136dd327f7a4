#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs a command with what the tests need around it: an X server (Xvfb) with a
# window manager on it, or a Wayland compositor, a PulseAudio daemon with two null
# sinks (tavrin_null, whose monitor is the default capture source, and the default
# output tavrin_speakers, standing for the speakers), and a PipeWire daemon with
# WirePlumber when they are installed (PIPEWIRE_RUNTIME_DIR). Everything started
# here is stopped again when the command ends.
#   TAVRIN_WM=openbox (default) | xfwm4 | none   the window manager on the X server
#   TAVRIN_WM=sway    a headless sway (1920 x 1080, XWayland on DISPLAY) instead of
#                     Xvfb; WAYLAND_DISPLAY and SWAYSOCK name it
#   TAVRIN_WM=kwin    a headless KWin (1920 x 1080) with XWayland on DISPLAY instead of
#                     Xvfb; exits 77 when kwin_wayland is not installed
set -uo pipefail

workdir="$(mktemp -d /tmp/tavrin-env.XXXXXX)"
pids=()
wayland_user=tavrin-wayland
here="$(cd "$(dirname "$0")" && pwd)"
cleanup() {
  if [ -n "${PIPEWIRE_STARTED:-}" ]; then
    bash "$here/pipewire-session.sh" stop "$workdir/pipewire"
  fi
  if [ -n "${PULSE_PID_STARTED:-}" ]; then
    pulseaudio --kill >/dev/null 2>&1 || true
  fi
  if [ -n "${KWIN_STARTED:-}" ]; then
    # Ours only, by its own copy's path: KWin, then what it started (XWayland, the session).
    for k in $(pgrep -f "^$workdir/kwin_wayland" 2>/dev/null); do
      pkill -P "$k" >/dev/null 2>&1 || true
      kill "$k" >/dev/null 2>&1 || true
    done
  fi
  for p in "${pids[@]}"; do kill "$p" >/dev/null 2>&1 || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  if [ -n "${SWAY_STARTED:-}" ]; then
    # Ours only (another sway of the same user may serve another test): sway, then
    # whatever it started (XWayland) as the compositor's own user.
    for s in $(pgrep -u "$wayland_user" -f "sway -c $workdir/sway.conf" 2>/dev/null); do
      pkill -P "$s" >/dev/null 2>&1 || true
      kill "$s" >/dev/null 2>&1 || true
    done
  fi
  rm -rf "$workdir"
}
trap cleanup EXIT

wm="${TAVRIN_WM:-openbox}"
if [ "$wm" = sway ]; then
  # sway refuses to run as root: an ordinary user of its own, made once.
  if [ "$(id -u)" = 0 ] && ! id -u "$wayland_user" >/dev/null 2>&1; then
    useradd --system --no-create-home --shell /usr/sbin/nologin "$wayland_user"
  fi
  as_user=()
  [ "$(id -u)" = 0 ] && as_user=(runuser -u "$wayland_user" --)
  # XWayland's socket folder must belong to root (or the compositor's user), as
  # an X server leaves it.
  if [ ! -d /tmp/.X11-unix ] && [ "$(id -u)" = 0 ]; then
    mkdir -m 1777 /tmp/.X11-unix
  fi
  wl="$workdir/wayland"
  mkdir -p "$wl"
  chmod 711 "$workdir"
  [ "$(id -u)" = 0 ] && chown "$wayland_user" "$wl"
  chmod 700 "$wl"
  cat >"$workdir/sway.conf" <<'CONF'
output HEADLESS-1 resolution 1920x1080 position 0 0
xwayland enable
focus_follows_mouse no
CONF
  chmod 644 "$workdir/sway.conf"
  "${as_user[@]}" env -i HOME="$wl" XDG_RUNTIME_DIR="$wl" PATH="$PATH" WLR_BACKENDS=headless \
    WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman sway -c "$workdir/sway.conf" >"$workdir/sway.log" 2>&1 &
  pids+=($!)
  SWAY_STARTED=1
  for _ in $(seq 1 300); do
    [ -S "$wl/wayland-1" ] && ls "$wl"/sway-ipc.*.sock >/dev/null 2>&1 && break
    sleep 0.1
  done
  if [ ! -S "$wl/wayland-1" ]; then
    echo "test-env: sway did not start:" >&2; cat "$workdir/sway.log" >&2; exit 1
  fi
  # Absolute names: the clients keep their own XDG_RUNTIME_DIR.
  export WAYLAND_DISPLAY="$wl/wayland-1"
  SWAYSOCK="$(ls "$wl"/sway-ipc.*.sock | head -n 1)"
  export SWAYSOCK
  # XWayland's display, as sway gives it to the programs it starts.
  swaymsg exec "printf %s \"\$DISPLAY\" > $wl/display" >/dev/null
  for _ in $(seq 1 50); do [ -s "$wl/display" ] && break; sleep 0.1; done
  DISPLAY="$(cat "$wl/display" 2>/dev/null)"
  export DISPLAY
  # XWayland lets in only the compositor's user; the tests may run as another.
  if [ -n "$DISPLAY" ] && [ ${#as_user[@]} -gt 0 ]; then
    "${as_user[@]}" env DISPLAY="$DISPLAY" xhost "+si:localuser:$(id -un)" >/dev/null
  fi
  export XDG_SESSION_TYPE=wayland
  own_x=0
  TAVRIN_OWN_X=0
fi

if [ "$wm" = kwin ]; then
  kwin="$(command -v kwin_wayland)" || { echo "test-env: kwin_wayland is not installed"; exit 77; }
  # The installed binary carries a file capability that a container refuses to run.
  cp "$kwin" "$workdir/kwin_wayland"
  [ -d /tmp/.X11-unix ] || mkdir -m 1777 /tmp/.X11-unix
  mkdir -m 700 "$workdir/kwin"
  # KWin tells XWayland's display only to the programs it starts: one that writes it
  # down and stays until KWin is stopped.
  cat >"$workdir/kwin-session.sh" <<SESSION
#!/bin/sh
printf %s "\$DISPLAY" >"$workdir/kwin/display.new" && mv "$workdir/kwin/display.new" "$workdir/kwin/display"
exec sleep infinity
SESSION
  chmod +x "$workdir/kwin-session.sh"
  env XDG_RUNTIME_DIR="$workdir/kwin" HOME="$workdir/kwin" dbus-run-session -- "$workdir/kwin_wayland" \
    --virtual --xwayland --no-lockscreen --width 1920 --height 1080 --socket "wayland-tavrin-$$" \
    --exit-with-session "$workdir/kwin-session.sh" >"$workdir/kwin.log" 2>&1 &
  pids+=($!)
  KWIN_STARTED=1
  for _ in $(seq 1 200); do [ -s "$workdir/kwin/display" ] && break; sleep 0.1; done
  if [ ! -s "$workdir/kwin/display" ]; then
    echo "test-env: kwin did not start:" >&2; cat "$workdir/kwin.log" >&2; exit 1
  fi
  DISPLAY="$(cat "$workdir/kwin/display")"
  export DISPLAY
  export XDG_SESSION_TYPE=wayland
  own_x=0
  TAVRIN_OWN_X=0
fi

# X server: a free display number, 24-bit colour, GLX through Mesa.
if [ "$wm" != sway ] && [ "$wm" != kwin ] && { [ -z "${DISPLAY:-}" ] || [ "${TAVRIN_OWN_X:-1}" = 1 ]; }; then
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
    --load="module-null-sink sink_name=tavrin_speakers sink_properties=device.description=Tavrin_Test_Speakers" \
    --load=module-native-protocol-unix >"$workdir/pulse.log" 2>&1 && PULSE_PID_STARTED=1
  for _ in $(seq 1 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  # What is played without a device named goes to the speakers; tests that feed the
  # input play into tavrin_null by name.
  pactl set-default-sink tavrin_speakers >/dev/null 2>&1 || true
  pactl set-default-source tavrin_null.monitor >/dev/null 2>&1 || true
fi
# PipeWire for the camera, in a folder of its own (tests may start more daemons).
PIPEWIRE_STARTED=1 # stopping where nothing started is harmless
if bash "$here/pipewire-session.sh" start "$workdir/pipewire"; then
  export PIPEWIRE_RUNTIME_DIR="$workdir/pipewire/run"
fi
if [ "$wm" = sway ]; then
  export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-wayland}"
else
  export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-xcb}"
fi
export LIBGL_ALWAYS_SOFTWARE=1

"$@"
