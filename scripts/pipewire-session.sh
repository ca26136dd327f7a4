#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# A private PipeWire session for tests: the daemon and WirePlumber, with a D-Bus
# session bus of their own, everything under DIR.
#   pipewire-session.sh start DIR   starts it; clients find it with PIPEWIRE_RUNTIME_DIR=DIR/run
#   pipewire-session.sh stop DIR    stops what start started there
# Exit status 3 from start: PipeWire or WirePlumber is not installed.
# The configuration is the installed one without the realtime module, which would
# raise the priority of threads on a shared machine when run as root.
set -uo pipefail
cmd="${1:-}"
dir="${2:-}"
[ -n "$dir" ] || { echo "usage: $0 start|stop DIR" >&2; exit 2; }

without_rt_module() {
  awk '/\{ *name *= *libpipewire-module-rt/ { skip = 1; depth = 0 }
       skip { depth += gsub(/\{/, "{") - gsub(/\}/, "}"); if (depth <= 0) skip = 0; next }
       { print }' "$1"
}

# The environment of the session's programs (a command, so that $! is the program itself).
session_env() {
  # WirePlumber's remembered stream targets stay in DIR too, not in the user's home.
  session=(env XDG_RUNTIME_DIR="$dir/run" PIPEWIRE_RUNTIME_DIR="$dir/run" XDG_CONFIG_HOME="$dir/config"
           XDG_STATE_HOME="$dir/state" DBUS_SESSION_BUS_ADDRESS="$(cat "$dir/bus" 2>/dev/null)")
}

case "$cmd" in
  start)
    command -v pipewire >/dev/null 2>&1 && command -v wireplumber >/dev/null 2>&1 || exit 3
    mkdir -p "$dir/run" "$dir/config/pipewire" "$dir/config/wireplumber"
    chmod 700 "$dir/run"
    without_rt_module /usr/share/pipewire/pipewire.conf >"$dir/config/pipewire/pipewire.conf"
    without_rt_module /usr/share/wireplumber/wireplumber.conf >"$dir/config/wireplumber/wireplumber.conf"
    if command -v dbus-daemon >/dev/null 2>&1; then
      dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$dir/bus" >/dev/null 2>&1 &
      echo $! >"$dir/dbus.pid"
      for _ in $(seq 1 50); do [ -s "$dir/bus" ] && break; sleep 0.1; done
    fi
    session_env
    "${session[@]}" pipewire >"$dir/pipewire.log" 2>&1 &
    echo $! >"$dir/pipewire.pid"
    for _ in $(seq 1 50); do [ -S "$dir/run/pipewire-0" ] && break; sleep 0.1; done
    [ -S "$dir/run/pipewire-0" ] || { echo "pipewire-session: the daemon did not start" >&2; cat "$dir/pipewire.log" >&2; exit 1; }
    "${session[@]}" wireplumber >"$dir/wireplumber.log" 2>&1 &
    echo $! >"$dir/wireplumber.pid"
    # Ready once WirePlumber has made its default metadata (it links the streams).
    for _ in $(seq 1 100); do
      "${session[@]}" pw-cli ls Metadata 2>/dev/null | grep -q '"default"' && break
      sleep 0.1
    done
    ;;
  stop)
    for name in wireplumber pipewire dbus; do
      [ -s "$dir/$name.pid" ] || continue
      pid="$(cat "$dir/$name.pid")"
      kill "$pid" >/dev/null 2>&1 || true
      # Gone, or ended and waiting to be reaped by whoever adopted it.
      for _ in $(seq 1 50); do
        kill -0 "$pid" 2>/dev/null && ! grep -q '^[0-9]* (.*) Z' "/proc/$pid/stat" 2>/dev/null || break
        sleep 0.1
      done
      kill -9 "$pid" >/dev/null 2>&1 || true
      rm -f "$dir/$name.pid"
    done
    rm -f "$dir/run/pipewire-0" "$dir/run/pipewire-0.lock" # a restart waits for a fresh socket
    ;;
  *) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
