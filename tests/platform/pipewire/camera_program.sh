#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The demonstration program as a camera, read by gst-launch-1.0 as the README shows:
#  - started with no PipeWire daemon it runs and says the camera is unavailable;
#  - once a daemon starts it publishes "tavrin-capture" (Video/Source, role Camera),
#    offering BGRx, BGRA and I420 in that order;
#  - 60 frames read with pipewiresrc equal, pixel for pixel, the program's own picture;
#  - the daemon stopped while a reader reads, and started again: the program runs on,
#    publishes again and a new reader gets exact pictures;
#  - it closes the ordinary way and keeps camera=1 in options.conf.
# Uses a private daemon of its own (it stops and restarts it), not the shared one.
#   camera_program.sh DEMO CHECKER PIPEWIRE_SESSION_SCRIPT
set -u
demo="$1"; check="$2"; session="$3"
if [ -z "${DISPLAY:-}" ]; then echo "no X server: run under scripts/test-env.sh"; exit 77; fi
if ! command -v pipewire >/dev/null || ! command -v wireplumber >/dev/null ||
   ! gst-inspect-1.0 pipewiresrc >/dev/null 2>&1; then
  echo "skipped: needs pipewire, wireplumber and GStreamer's pipewiresrc"; exit 77
fi
work="$(mktemp -d /tmp/tavrin-camera-e2e.XXXXXX)"
pid=""
cleanup() {
  [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null
  bash "$session" stop "$work/pw"
  rm -rf "$work"
}
trap cleanup EXIT
export PIPEWIRE_RUNTIME_DIR="$work/pw/run"
fail() {
  echo "FAIL: $*"; echo "--- program output"; cat "$work/out.txt"
  echo "--- nodes and links"; pw-cli ls Node 2>&1 | grep -E "id |node.name|media.class"; pw-link -l 2>&1
  echo "--- WirePlumber"; tail -n 20 "$work/pw/wireplumber.log"
  exit 1
}
wait_for() { # SECONDS COMMAND...
  local limit=$(( $1 * 10 )); shift
  for _ in $(seq 1 "$limit"); do "$@" && return 0; sleep 0.1; done
  return 1
}
node_published() { pw-cli ls Node 2>/dev/null | grep -q 'node.name = "tavrin-capture"'; }
read_frames() { # DIR N
  mkdir -p "$1"
  GST_DEBUG=pipewiresrc:4 timeout 20 gst-launch-1.0 -q pipewiresrc target-object=tavrin-capture num-buffers="$2" ! videoconvert ! \
    pngenc ! multifilesink location="$1/%05d.png" >"$1.log" 2>&1 || { tail -n 30 "$1.log"; return 1; }
}

XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb "$demo" >"$work/out.txt" 2>&1 &
pid=$!
wait_for 10 grep -q "camera unavailable" "$work/out.txt" || fail "no word that the camera is unavailable"
kill -0 "$pid" 2>/dev/null || fail "the program ended without a daemon"
echo "no daemon: $(grep -m1 'camera unavailable' "$work/out.txt")"

bash "$session" start "$work/pw" || fail "the PipeWire session did not start"
wait_for 10 node_published || fail "tavrin-capture was not published within 10 s of the daemon starting"
props="$(pw-dump 2>/dev/null | python3 -c '
import json, sys
for o in json.load(sys.stdin):
    p = o.get("info", {}).get("props", {})
    if p.get("node.name") == "tavrin-capture":
        print(p.get("media.class"), p.get("media.role"), p.get("node.description"))')"
[ "$props" = "Video/Source Camera Tavrin Capture" ] || fail "node properties: $props"
echo "published: $props"
# The formats offered, in order: BGRx first for readers that take the first they can.
formats="$(pw-dump 2>/dev/null | python3 -c '
import json, sys
for o in json.load(sys.stdin):
    i = o.get("info") or {}
    if (i.get("props") or {}).get("node.name") == "tavrin-capture":
        print(" ".join("%s/%dx%d/%d" % (f["format"], f["size"]["width"], f["size"]["height"], f["framerate"]["num"])
                       for f in (i.get("params") or {}).get("EnumFormat", [])))')"
[ "$formats" = "BGRx/256x384/60 BGRA/256x384/60 I420/256x384/60" ] || fail "formats offered: $formats"
echo "formats: $formats"

read_frames "$work/first" 60 || fail "gst-launch did not end with 60 frames"
"$check" --layout 6 --count 60 --moving "$work"/first/*.png || fail "the first 60 frames"

# A reader that reads on while the daemon goes away.
mkdir -p "$work/during"
gst-launch-1.0 -q pipewiresrc target-object=tavrin-capture ! videoconvert ! pngenc ! \
  multifilesink location="$work/during/%05d.png" >/dev/null 2>&1 &
reader=$!
wait_for 10 test -e "$work/during/00010.png" || fail "the second reader got nothing"
bash "$session" stop "$work/pw"
sleep 1
kill "$reader" 2>/dev/null; sleep 0.5; kill -9 "$reader" 2>/dev/null; wait "$reader" 2>/dev/null
kill -0 "$pid" 2>/dev/null || fail "the program ended when the daemon went away"
grep -q "publishing again when the PipeWire daemon is back" "$work/out.txt" || fail "no word of the daemon leaving"

bash "$session" start "$work/pw" || fail "the PipeWire session did not start again"
wait_for 15 node_published || fail "tavrin-capture was not published again after the daemon came back"
# Under load a reader that starts as the node appears may precede the session manager of the new
# daemon and is never linked; a second reader then shows whether the camera sends.
read_frames "$work/after" 30 || { rm -rf "$work/after"; read_frames "$work/after" 30; } ||
  fail "gst-launch did not get 30 frames after the restart"
"$check" --layout 6 --count 30 --moving "$work"/after/*.png || fail "the frames after the restart"

kill -INT "$pid"
for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "the program did not close within 10 s"
wait "$pid"; code=$?; pid=""
[ "$code" = 0 ] || fail "exit code $code"
grep -qx "camera=1" "$work/config/Tavrin Capture/options.conf" || fail "options.conf: $(cat "$work/config/Tavrin Capture/options.conf")"
echo "PASS: camera published after the daemon came, exact frames before and after its restart"
